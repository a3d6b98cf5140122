// CLargeNumber: schoolbook decimal arithmetic on a sign and a digit array, least significant
// digit first.
#include "util/large_number.h"

#include <algorithm>
#include <stdexcept>

namespace {

using Digits = std::vector<std::uint8_t>;

void Trim(Digits& d) {
    while (d.size() > 1 && d.back() == 0) {
        d.pop_back();
    }
    if (d.empty()) {
        d.push_back(0);
    }
}

bool IsZeroDigits(const Digits& d) {
    return d.size() == 1 && d[0] == 0;
}

int CompareMagnitudes(const Digits& a, const Digits& b) {
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    for (std::size_t i = a.size(); i-- > 0;) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    return 0;
}

Digits AddMagnitudes(const Digits& a, const Digits& b) {
    const std::size_t n = std::max(a.size(), b.size());
    Digits result;
    result.reserve(n + 1);
    int carry = 0;
    for (std::size_t i = 0; i < n; ++i) {
        int sum = carry + (i < a.size() ? a[i] : 0) + (i < b.size() ? b[i] : 0);
        carry = sum >= 10 ? 1 : 0;
        result.push_back(static_cast<std::uint8_t>(sum - 10 * carry));
    }
    if (carry) {
        result.push_back(1);
    }
    return result;
}

// a - b for |a| >= |b|.
Digits SubtractMagnitudes(const Digits& a, const Digits& b) {
    Digits result = a;
    int borrow = 0;
    for (std::size_t i = 0; i < result.size(); ++i) {
        int diff = result[i] - borrow - (i < b.size() ? b[i] : 0);
        borrow = diff < 0 ? 1 : 0;
        result[i] = static_cast<std::uint8_t>(diff + 10 * borrow);
    }
    Trim(result);
    return result;
}

Digits MultiplyByDigit(const Digits& a, int digit) {
    if (digit == 0) {
        return Digits{0};
    }
    Digits result;
    result.reserve(a.size() + 1);
    int carry = 0;
    for (std::uint8_t d : a) {
        int product = d * digit + carry;
        result.push_back(static_cast<std::uint8_t>(product % 10));
        carry = product / 10;
    }
    if (carry) {
        result.push_back(static_cast<std::uint8_t>(carry));
    }
    return result;
}

Digits Shift(const Digits& a, std::size_t k) {
    if (IsZeroDigits(a)) {
        return a;
    }
    Digits result(k, 0);
    result.insert(result.end(), a.begin(), a.end());
    return result;
}

Digits MultiplyMagnitudes(const Digits& a, const Digits& b) {
    if (IsZeroDigits(a) || IsZeroDigits(b)) {
        return Digits{0};
    }
    Digits result{0};
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != 0) {
            result = AddMagnitudes(result, Shift(MultiplyByDigit(b, a[i]), i));
        }
    }
    Trim(result);
    return result;
}

// Long division by repeated subtraction of the divisor shifted to one digit below the dividend.
void DivideMagnitudes(const Digits& a, const Digits& b, Digits& quotient, Digits& remainder) {
    if (CompareMagnitudes(a, b) < 0) {
        quotient = Digits{0};
        remainder = a;
        return;
    }
    const std::ptrdiff_t k = static_cast<std::ptrdiff_t>(a.size()) - static_cast<std::ptrdiff_t>(b.size()) - 1;
    Digits s = b;
    Digits p{1};
    if (k > 0) {
        s = Shift(b, static_cast<std::size_t>(k));
        p = Shift(p, static_cast<std::size_t>(k));
    }
    remainder = a;
    quotient = Digits{0};
    while (CompareMagnitudes(remainder, s) >= 0) {
        quotient = AddMagnitudes(quotient, p);
        remainder = SubtractMagnitudes(remainder, s);
    }
    if (CompareMagnitudes(remainder, b) >= 0) {
        Digits q2;
        Digits r2;
        DivideMagnitudes(remainder, b, q2, r2);
        quotient = AddMagnitudes(quotient, q2);
        remainder = r2;
    }
}

} // namespace

CLargeNumber::CLargeNumber() : digits{0} {}

CLargeNumber::CLargeNumber(std::uint32_t value) {
    do {
        digits.push_back(static_cast<std::uint8_t>(value % 10));
        value /= 10;
    } while (value != 0);
}

CLargeNumber::CLargeNumber(const char* text) : CLargeNumber(std::string(text ? text : "")) {}

CLargeNumber::CLargeNumber(const std::string& text) {
    std::size_t begin = text.find_first_not_of(' ');
    std::size_t end = text.find_last_not_of(' ');
    if (begin != std::string::npos) {
        if (text[begin] == '-') {
            sign = -1;
            ++begin;
        }
        for (std::size_t i = end + 1; i-- > begin;) {
            if (text[i] < '0' || text[i] > '9') {
                break;
            }
            digits.push_back(static_cast<std::uint8_t>(text[i] - '0'));
        }
    }
    Trim(digits);
    if (IsZero()) {
        sign = 1;
    }
}

CLargeNumber CLargeNumber::FromUint64(std::uint64_t value) {
    CLargeNumber result;
    result.digits.clear();
    do {
        result.digits.push_back(static_cast<std::uint8_t>(value % 10));
        value /= 10;
    } while (value != 0);
    return result;
}

std::string CLargeNumber::ToString() const {
    std::string text;
    text.reserve(digits.size() + 1);
    if (sign < 0) {
        text.push_back('-');
    }
    for (std::size_t i = digits.size(); i-- > 0;) {
        text.push_back(static_cast<char>('0' + digits[i]));
    }
    return text;
}

std::int32_t CLargeNumber::ToInt() const {
    // Unsigned arithmetic wraps where the signed would be undefined; callers stay in range.
    std::uint32_t value = 0;
    std::uint32_t power = 1;
    for (std::uint8_t d : digits) {
        value += d * power;
        power *= 10;
    }
    if (sign < 0) {
        value = 0u - value;
    }
    return static_cast<std::int32_t>(value);
}

CLargeNumber CLargeNumber::operator+(const CLargeNumber& other) const {
    CLargeNumber result;
    if (sign == other.sign) {
        result.digits = AddMagnitudes(digits, other.digits);
        result.sign = sign;
        return result;
    }
    int cmp = CompareMagnitudes(digits, other.digits);
    if (cmp == 0) {
        return result;
    }
    if (cmp > 0) {
        result.digits = SubtractMagnitudes(digits, other.digits);
        result.sign = sign;
    } else {
        result.digits = SubtractMagnitudes(other.digits, digits);
        result.sign = other.sign;
    }
    return result;
}

CLargeNumber CLargeNumber::operator-(const CLargeNumber& other) const {
    // a - b is a + (-b); zero keeps its sign +1 so the invariant survives the negation.
    CLargeNumber negated = other;
    if (!negated.IsZero()) {
        negated.sign = static_cast<std::int8_t>(-negated.sign);
    }
    return *this + negated;
}

CLargeNumber CLargeNumber::operator*(const CLargeNumber& other) const {
    CLargeNumber result;
    result.digits = MultiplyMagnitudes(digits, other.digits);
    result.sign = result.IsZero() ? std::int8_t{1} : static_cast<std::int8_t>(sign * other.sign);
    return result;
}

CLargeNumber& CLargeNumber::operator+=(const CLargeNumber& other) {
    *this = *this + other;
    return *this;
}

CLargeNumber& CLargeNumber::operator+=(std::uint64_t value) {
    if (sign < 0) {
        return *this += FromUint64(value);
    }
    // In place, digit by digit: a run adds one size per file, and a copy of the digits each
    // time would cost an allocation per file.
    unsigned carry = 0;
    for (std::size_t i = 0; value != 0 || carry != 0; ++i) {
        if (i == digits.size()) {
            digits.push_back(0);
        }
        const unsigned sum = digits[i] + static_cast<unsigned>(value % 10) + carry;
        carry = sum >= 10 ? 1 : 0;
        digits[i] = static_cast<std::uint8_t>(sum - 10 * carry);
        value /= 10;
    }
    return *this;
}

CLargeNumber& CLargeNumber::operator/=(const CLargeNumber& divisor) {
    if (divisor.IsZero() || divisor.IsNegative()) {
        throw std::overflow_error("ERROR: Overflow in operator /=!");
    }
    if (IsZero()) {
        sign = 1;
        return *this;
    }
    Digits quotient;
    Digits remainder;
    DivideMagnitudes(digits, divisor.digits, quotient, remainder);
    digits = std::move(quotient);
    if (IsZero()) {
        sign = 1;
    }
    return *this;
}

bool CLargeNumber::operator<(const CLargeNumber& other) const {
    if (sign != other.sign) {
        return sign < other.sign;
    }
    int cmp = CompareMagnitudes(digits, other.digits);
    return sign > 0 ? cmp < 0 : cmp > 0;
}

bool CLargeNumber::operator==(const CLargeNumber& other) const {
    return sign == other.sign && digits == other.digits;
}
