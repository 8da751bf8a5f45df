#pragma once
// The names a save may claim when it must never replace a file: names(0) is tried first, then
// names(1), names(2), ..., each in the folder of names(0), until one is free at the moment of
// the rename (AtomicFile::commitFirstFree).

#include <QString>
#include <functional>

namespace imaging {

using NameSequence = std::function<QString(int attempt)>;

} // namespace imaging
