#include "io/code_page.h"

#include <gtest/gtest.h>

namespace kelmar {
namespace {

TEST(CodePage, ConvertsBothWays) {
    const struct {
        const char* bytes;
        const char* utf8;
    } cases[] = {
        {"capa\xF1ity", "capa\u0441ity"},  // the Cyrillic es of the W_FC_ms comment
        {"coefficient\x85", "coefficient\u2026"},
        {"12\xB0", "12\u00b0"},
        {"\xC0\xFF\xA8\xB8", "\u0410\u044f\u0401\u0451"},
        {"\x80\x88\x99\xB9", "\u0402\u20ac\u2122\u2116"},
        {"plain ASCII, 0-9", "plain ASCII, 0-9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Cp1251ToUtf8(c.bytes), c.utf8) << "bytes " << c.bytes;
        EXPECT_EQ(Utf8ToCp1251(c.utf8), c.bytes) << "text " << c.utf8;
    }
}

TEST(CodePage, WhatTheOtherSideLacksBecomesAQuestionMark) {
    EXPECT_EQ(Cp1251ToUtf8("a\x98z"), "a?z");  // the one unassigned byte
    EXPECT_EQ(Cp1251ToUtf8(std::string("a\0z", 3)), std::string("a\0z", 3));
    const struct {
        const char* utf8;
        const char* bytes;
    } cases[] = {
        {"\u4e2d", "?"},              // a character outside the code page
        {"\U0001F600x", "?x"},        // four-byte sequence
        {"\xC3", "?"},                // sequence cut at the end
        {"\xC3(", "?("},              // lead byte without continuation
        {"\xC0\xB0", "??"},           // overlong form of "0"
        {"\xB0", "?"},                // stray continuation byte
        {"\xF8\x88\x80\x80\x80", "?????"},
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8ToCp1251(c.utf8), c.bytes) << "text " << c.utf8;
}

}  // namespace
}  // namespace kelmar
