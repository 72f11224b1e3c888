// One list of the interface functions for the wire tests and the end-to-end tests, kept
// apart from the library's table and the broker's, which both must agree with it.
#ifndef TESTS_SUPPORT_INTERFACE_CODES_H
#define TESTS_SUPPORT_INTERFACE_CODES_H

#include <gtest/gtest.h>

#include <map>
#include <sstream>

// The interface function codes of command 44 by the shape of their arguments, as the
// broker documents them: - nothing, s one string, S two strings,
// 1 2 3 5 that many ints, m int-string-int, p n then 2n strings, j the JTAG shift,
// b a "%f" block, f a "%f" token, ? no function.
inline const std::map<char, const char*> kCodesByShape = {
    {'-',
     "3 4 7 8 9 10 14 15 16 27 29 37 38 39 40 41 42 43 44 47 48 50 52 54 56 58 59 61 62 "
     "65 66 67 73 74 75 79 80 82 85 87 88 94 99 100 101 103 105 107 108 109 111 113 118 "
     "119 121 123 125 126 127 128 129 131 135 136 137 138 139"},
    {'s', "1 51 53 55 60 78 84 86 102 112 114 115 122"},
    {'S', "83 116 124"},
    {'1',
     "2 11 13 17 18 19 20 21 22 23 24 25 26 28 34 35 45 46 49 57 63 64 68 71 77 81 92 95 "
     "104 106 110 117 132 134 141 142 143"},
    {'2', "5 6 76 91 96 140"},
    {'3', "93"},
    {'5', "89 90"},
    {'m', "30 31 32 33"},
    {'p', "120"},
    {'j', "12"},
    {'b', "36"},
    {'f', "69 70"},
    {'?', "72 97 98 130 133 0 -1 144"},
};

// Every listed code with its shape: 1 to 143, and three codes outside the list.
inline std::map<int, char> interfaceShapes() {
  std::map<int, char> shapeOf;
  for (const auto& [shape, codes] : kCodesByShape) {
    std::istringstream in(codes);
    for (int code; in >> code;) EXPECT_TRUE(shapeOf.emplace(code, shape).second) << code;
  }
  EXPECT_EQ(146u, shapeOf.size());
  for (int code = 1; code <= 143; ++code) EXPECT_EQ(1u, shapeOf.count(code)) << code;
  return shapeOf;
}

#endif  // TESTS_SUPPORT_INTERFACE_CODES_H
