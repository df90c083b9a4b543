#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstddef>
#include <cstdint>

// The libFuzzer entry point every harness defines; replay.cpp calls it in the normal build.
// A harness that needs one-time set-up also defines
// extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// A property of the code under test that no input may break. On failure it names the
// condition and aborts, which libFuzzer records as a crash and the replay test as a failure.
#define FUZZ_CHECK(condition) \
    ((condition) ? void(0) : FuzzCheck::fail(#condition, __FILE__, __LINE__))

namespace FuzzCheck {

[[noreturn]] void fail(const char *condition, const char *file, int line);

// Takes structure out of a fuzz input from its front: split points, flags, small numbers.
// Once the input is used up every read gives 0, so any input is a valid one.
class InputReader final
{
public:
    InputReader(const uint8_t *data, size_t size)
        : bytes(reinterpret_cast<const char *>(data), qsizetype(size))
    {
    }

    quint8 takeByte();
    bool takeBool() { return takeByte() & 1; }
    // Up to maximum bytes, fewer at the input's end.
    QByteArrayView take(qsizetype maximum);
    QByteArrayView rest();
    bool atEnd() const { return bytes.isEmpty(); }

private:
    QByteArrayView bytes;
};

} // namespace FuzzCheck
