// The Windows back ends against Wine's audio: enumeration as Wine reports it, sound through
// the coordinator into the file sink of the test prefix, capture, the engine start sequence,
// and a refused exclusive-mode stream.

#include "WinAudioRig.h"

#include <cstdio>

#include "audio/dsound/VLDirectSound.h"
#include "audio/mme/VLMMAudio.h"
#include "audio/wasapi/VLWASAPI.h"

using namespace wintest;

namespace {

void dump(const char* family, vl::VLAudioBase* backend) {
    for (auto& r : backend->devices) {
        std::printf("%s type %u in %d default %d idx %d id '%ls' name '%ls' ch %u rate %g bits %u buf %u names:", family,
                    r->type, r->isInput, r->isDefault, r->deviceIndex, r->endpointId.c_str(), r->name.c_str(),
                    r->channels, r->sampleRate, r->bitsPerSample, r->bufferSize);
        for (auto& n : r->channelNames) std::printf(" '%ls'", n.c_str());
        std::printf("\n");
    }
}

}  // namespace

TEST(WinAudioEnumeration, Dump) {
    vl::WindowsAudioBackends set;
    dump("wasapi", &set.wasapi());
    dump("dsound", set.directSound());
    dump("mme", set.mme());
}
