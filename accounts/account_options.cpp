#include "accounts/account.h"

namespace {

// Bits outside 0..31 do not exist: testing one gives false, changing one
// does nothing.
bool InRange(int bit) {
    return bit >= 0 && bit < 32;
}

std::uint32_t Mask(int bit) {
    return std::uint32_t{1} << bit;
}

}  // namespace

bool AccountOptions::Test(int bit) const {
    return InRange(bit) && (bits_ & Mask(bit)) != 0;
}

void AccountOptions::Set(int bit) {
    if (InRange(bit)) bits_ |= Mask(bit);
}

void AccountOptions::Clear(int bit) {
    if (InRange(bit)) bits_ &= ~Mask(bit);
}
