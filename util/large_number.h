// CLargeNumber: the signed decimal integer of unlimited size in which every byte count is kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CLargeNumber {
public:
    CLargeNumber();
    CLargeNumber(std::uint32_t value); // NOLINT(google-explicit-constructor): counts mix freely with sizes
    explicit CLargeNumber(const char* text);
    explicit CLargeNumber(const std::string& text);

    // Sizes arrive from the platform as 64-bit values; the result equals the high/low 32-bit
    // composition with "4294967296".
    static CLargeNumber FromUint64(std::uint64_t value);

    std::string ToString() const;
    std::int32_t ToInt() const;

    CLargeNumber operator+(const CLargeNumber& other) const;
    CLargeNumber operator-(const CLargeNumber& other) const;
    CLargeNumber operator*(const CLargeNumber& other) const;
    CLargeNumber& operator+=(const CLargeNumber& other);
    // A size or count of 64 bits, added without building a second number.
    CLargeNumber& operator+=(std::uint64_t value);
    // Throws std::overflow_error("ERROR: Overflow in operator /=!") for a divisor of zero or below,
    // leaving the number unchanged.
    CLargeNumber& operator/=(const CLargeNumber& divisor);
    bool operator<(const CLargeNumber& other) const;
    bool operator==(const CLargeNumber& other) const;

    bool IsNegative() const { return sign < 0; }
    bool IsZero() const { return digits.size() == 1 && digits[0] == 0; }

private:
    std::int8_t sign = 1;
    std::vector<std::uint8_t> digits; // least significant first, one decimal digit each
};
