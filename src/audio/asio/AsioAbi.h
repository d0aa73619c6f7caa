#pragma once
// The ASIO 2 driver interface as a 64-bit Windows host sees it, declared here from the
// published binary layout (no vendor header is used).
//
// Layout decisions:
// - Every integer of the interface is a Windows "long", which is 32 bits on Win64 (LLP64). It is
//   spelled int32_t / uint32_t here, so the structures have the same layout when this header is
//   compiled for another platform (tests of the conversions, static layout checks).
// - Natural alignment, no #pragma pack. Every field that crosses the driver boundary has the same
//   offset under 4-byte packing and natural alignment; only sizeof(AsioTimeCode) (84 packed, 88
//   natural) and sizeof(AsioTime) (148 / 152) differ. An AsioTime owned by the driver is
//   therefore read through its fields only and never copied or cleared as a whole; the one the
//   host builds itself (bufferSwitch) is its own. AsioDriverInfo never crosses the boundary.
// - AsioSamples and AsioTimeStamp are two 32-bit halves, the most significant one first; they
//   are not a native 64-bit integer on Windows.
//
// Calling convention: on Win64 there is one calling convention; every method receives the object
// pointer first (the C++ "this"), so IAsioDriver is an abstract class whose virtual methods sit in
// the driver's table in declaration order (slot n at byte 8n). It must keep exactly these methods
// in this order: no virtual destructor (it would take table slots) and no overloaded names (the
// Microsoft ABI groups overloads together). The host callbacks are plain C functions.

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <unknwn.h>
#endif

namespace vl::asio {

using AsioBool = int32_t;
constexpr AsioBool kAsioFalse = 0;
constexpr AsioBool kAsioTrue = 1;

using AsioError = int32_t;
constexpr AsioError ASE_OK = 0;
constexpr AsioError ASE_SUCCESS = 0x3f4847a0;
constexpr AsioError ASE_NotPresent = -1000;
constexpr AsioError ASE_HWMalfunction = -999;
constexpr AsioError ASE_InvalidParameter = -998;
constexpr AsioError ASE_InvalidMode = -997;
constexpr AsioError ASE_SPNotAdvancing = -996;
constexpr AsioError ASE_NoClock = -995;
constexpr AsioError ASE_NoMemory = -994;

using AsioSampleRate = double;
using AsioSampleType = int32_t;  // the values of PlanarSampleType (audio/SampleConvert.h)

struct AsioSamples {
    uint32_t hi;
    uint32_t lo;
};
using AsioTimeStamp = AsioSamples;

inline uint64_t asioWide(const AsioSamples& s) { return (uint64_t(s.hi) << 32) | s.lo; }
inline AsioSamples asioHalves(uint64_t v) { return AsioSamples{uint32_t(v >> 32), uint32_t(v)}; }

struct AsioChannelInfo {
    int32_t channel;       // in: 0-based within its direction
    AsioBool isInput;      // in
    AsioBool isActive;     // out
    int32_t channelGroup;  // out
    AsioSampleType type;   // out
    char name[32];         // out
};

struct AsioBufferInfo {
    AsioBool isInput;   // in
    int32_t channelNum; // in
    void* buffers[2];   // out: the two buffer halves
};

struct AsioTimeInfo {
    double speed;
    AsioTimeStamp systemTime;  // nanoseconds
    AsioSamples samplePosition;
    AsioSampleRate sampleRate;
    uint32_t flags;
    char reserved[12];
};

enum : uint32_t {
    kSystemTimeValid = 1,
    kSamplePositionValid = 2,
    kSampleRateValid = 4,
    kSpeedValid = 8,
    kSampleRateChanged = 16,
    kClockSourceChanged = 32,
};

struct AsioTimeCode {
    double speed;
    AsioSamples timeCodeSamples;
    uint32_t flags;
    char future[64];
};

struct AsioTime {
    int32_t reserved[4];
    AsioTimeInfo timeInfo;
    AsioTimeCode timeCode;
};

struct AsioCallbacks {
    void (*bufferSwitch)(int32_t doubleBufferIndex, AsioBool directProcess);
    void (*sampleRateDidChange)(AsioSampleRate rate);
    int32_t (*asioMessage)(int32_t selector, int32_t value, void* message, double* opt);
    AsioTime* (*bufferSwitchTimeInfo)(AsioTime* params, int32_t doubleBufferIndex, AsioBool directProcess);
};

struct AsioClockSource {
    int32_t index;
    int32_t associatedChannel;
    int32_t associatedGroup;
    AsioBool isCurrentSource;
    char name[32];
};

// Host-side record of what init and the naming calls answered; never passed to the driver.
struct AsioDriverInfo {
    int32_t asioVersion;
    int32_t driverVersion;
    char name[32];
    char errorMessage[124];
    void* sysRef;
};

// asioMessage selectors (driver to host).
enum : int32_t {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion = 2,
    kAsioResetRequest = 3,
    kAsioBufferSizeChange = 4,
    kAsioResyncRequest = 5,
    kAsioLatenciesChanged = 6,
    kAsioSupportsTimeInfo = 7,
    kAsioSupportsTimeCode = 8,
    kAsioMMCCommand = 9,
    kAsioSupportsInputMonitor = 10,
    kAsioOverload = 15,
};

static_assert(sizeof(AsioSamples) == 8 && alignof(AsioSamples) == 4);
static_assert(sizeof(AsioChannelInfo) == 52 && offsetof(AsioChannelInfo, type) == 16 &&
              offsetof(AsioChannelInfo, name) == 20);
static_assert(offsetof(AsioTimeInfo, systemTime) == 8 && offsetof(AsioTimeInfo, flags) == 32);
static_assert(offsetof(AsioTime, timeInfo) == 16 && offsetof(AsioTime, timeCode) == 64);
static_assert(offsetof(AsioTime, timeCode) + offsetof(AsioTimeCode, flags) == 80);
static_assert(sizeof(AsioClockSource) == 48);
#if UINTPTR_MAX > 0xFFFFFFFFu
static_assert(sizeof(AsioBufferInfo) == 24 && offsetof(AsioBufferInfo, buffers) == 8);
static_assert(sizeof(AsioCallbacks) == 32 && offsetof(AsioCallbacks, bufferSwitchTimeInfo) == 24);
#endif

#ifdef _WIN32
// The driver object. Slots 0 to 2 are IUnknown's.
class IAsioDriver : public IUnknown {
public:
    virtual AsioBool STDMETHODCALLTYPE init(void* sysHandle) = 0;                         // 3
    virtual void STDMETHODCALLTYPE getDriverName(char* name) = 0;                         // 4
    virtual int32_t STDMETHODCALLTYPE getDriverVersion() = 0;                             // 5
    virtual void STDMETHODCALLTYPE getErrorMessage(char* text) = 0;                       // 6
    virtual AsioError STDMETHODCALLTYPE start() = 0;                                      // 7
    virtual AsioError STDMETHODCALLTYPE stop() = 0;                                       // 8
    virtual AsioError STDMETHODCALLTYPE getChannels(int32_t* inputs, int32_t* outputs) = 0;  // 9
    virtual AsioError STDMETHODCALLTYPE getLatencies(int32_t* input, int32_t* output) = 0;   // 10
    virtual AsioError STDMETHODCALLTYPE getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferred,
                                                      int32_t* granularity) = 0;           // 11
    virtual AsioError STDMETHODCALLTYPE canSampleRate(AsioSampleRate rate) = 0;          // 12
    virtual AsioError STDMETHODCALLTYPE getSampleRate(AsioSampleRate* rate) = 0;         // 13
    virtual AsioError STDMETHODCALLTYPE setSampleRate(AsioSampleRate rate) = 0;          // 14
    virtual AsioError STDMETHODCALLTYPE getClockSources(AsioClockSource* clocks, int32_t* count) = 0;  // 15
    virtual AsioError STDMETHODCALLTYPE setClockSource(int32_t index) = 0;               // 16
    virtual AsioError STDMETHODCALLTYPE getSamplePosition(AsioSamples* position, AsioTimeStamp* time) = 0;  // 17
    virtual AsioError STDMETHODCALLTYPE getChannelInfo(AsioChannelInfo* info) = 0;       // 18
    virtual AsioError STDMETHODCALLTYPE createBuffers(AsioBufferInfo* infos, int32_t count, int32_t bufferSize,
                                                      AsioCallbacks* callbacks) = 0;      // 19
    virtual AsioError STDMETHODCALLTYPE disposeBuffers() = 0;                            // 20
    virtual AsioError STDMETHODCALLTYPE controlPanel() = 0;                              // 21
    virtual AsioError STDMETHODCALLTYPE future(int32_t selector, void* argument) = 0;    // 22
    virtual AsioError STDMETHODCALLTYPE outputReady() = 0;                               // 23
};
#endif

}  // namespace vl::asio
