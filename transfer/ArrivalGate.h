// Where a package's bytes are still arriving while it is read: a reader asks for the bytes it
// needs and waits until they are there and checked.
#pragma once

#include <cstdint>

class ArrivalGate {
public:
    virtual ~ArrivalGate() = default;
    // Waits until every byte from offset to end has arrived and been checked: true, or false
    // when those bytes will not come (the download ended or failed, or a span did not match).
    virtual bool WaitFor(uint64_t offset, uint64_t end) = 0;
};
