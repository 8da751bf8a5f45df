#pragma once
// WaitSeconds: returns after the given time, processing window events meanwhile without keeping
// a processor core busy. The capture command waits 0.01 s after each capture attempt.

namespace ui {

void WaitSeconds(double seconds);

} // namespace ui
