#pragma once

#include <climits>
#include <cstddef>
#include <string>

// The decimal integer that starts at text[from]: an optional sign, then the
// digits up to the first other character. The magnitude stops growing at
// INT_MAX + 1, so any run of digits is read without overflow and a caller
// can tell a value beyond the 32-bit range from one inside it.
struct DecimalNumber {
    bool negative = false;
    long long magnitude = 0;
    std::size_t digits = 0;  // how many digits were read
    std::size_t end = 0;     // the position after the last character read

    static constexpr long long kBeyond = static_cast<long long>(INT_MAX) + 1;

    static DecimalNumber read(const std::string& text, std::size_t from) {
        DecimalNumber number;
        std::size_t i = from;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            number.negative = text[i] == '-';
            ++i;
        }
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++number.digits) {
            number.magnitude = number.magnitude * 10 + (text[i] - '0');
            if (number.magnitude > kBeyond) number.magnitude = kBeyond;
        }
        number.end = i;
        return number;
    }

    bool fitsInt() const { return magnitude <= INT_MAX; }
    long long value() const { return negative ? -magnitude : magnitude; }
};
