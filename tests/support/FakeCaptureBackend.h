#pragma once
// A capture backend without a display: each capture yields the next of a queue of results
// (an empty Picture stands for an attempt that yields nothing), then repeats the last one.
// By default every capture yields a 64x48 picture of one colour. Counts its captures.

#include "CaptureBackend.h"

#include <QColor>
#include <QList>
#include <functional>

namespace testsupport {

class FakeCaptureBackend : public platform::CaptureBackend
{
public:
    FakeCaptureBackend();

    // The pictures the next captures yield, in order; the last one repeats.
    void setResults(QList<imaging::Picture> results);
    static imaging::Picture picture(QColor colour, int width = 64, int height = 48);

    imaging::Picture captureScreen() override;
    void sync() override {}

    int captures() const { return m_captures; }

    // Runs at each capture, before it yields its picture (another copy's command, say).
    std::function<void()> onCapture;

private:
    QList<imaging::Picture> m_results;
    int m_captures = 0;
};

} // namespace testsupport
