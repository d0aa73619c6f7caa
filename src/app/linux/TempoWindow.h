#pragma once
// The Tempo window of the Linux application: the tempo typed, stepped, dragged or tapped,
// bound to the Tempo model the Windows program uses.

#include <QDialog>
#include <QLineEdit>

#include <functional>

#include "dialogs/models/TempoModel.h"

namespace vl::linuxapp {

// The tempo box: dragging on it with the mouse changes the tempo (whole beats or tenths, by
// where the drag starts).
class TempoBox : public QLineEdit {
public:
    TempoBox(TempoModel& model, std::function<void()> changed);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TempoModel& model;
    std::function<void()> changed;
};

class TempoWindow : public QDialog {
public:
    TempoWindow(QWidget* parent, VLVSTHostInterface& host, HostSettings& settings);

private:
    void show();
    TempoModel model;
    TempoBox* box;
};

}  // namespace vl::linuxapp
