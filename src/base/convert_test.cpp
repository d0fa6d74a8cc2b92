#include "base/convert.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/text.h"

namespace zkq {
namespace {

TEST(ToInt16, ConvertsNumbers) {
  struct Case {
    std::u16string text;
    int value;
  };
  const std::vector<Case> cases = {
      {u"0", 0},        {u"5", 5},          {u" 5 ", 5},       {u"  15", 15},
      {u"-1", -1},      {u"+7", 7},         {u"2.5", 2},       {u"3.5", 4},
      {u"-2.5", -2},    {u"-3.5", -4},      {u"0.5", 0},       {u"1.5", 2},
      {u"2.51", 3},     {u"2.49", 2},       {u".5", 0},        {u"5.", 5},
      {u"1e3", 1000},   {u"1E3", 1000},     {u"2.5e1", 25},    {u"1e-1", 0},
      {u"-32767", -32767},                  {u"32767", 32767}, {u"32767.4", 32767},
      {u"&H10", 16},    {u"&h1f", 31},      {u"&HFFFF", -1},   {u"&O17", 15},
      {u"&17", 15},     {u" &H7FFF ", 32767},                  {u"007", 7},
      {u"1e-400", 0},
  };
  for (const auto& c : cases) {
    try {
      EXPECT_EQ(ToInt16(c.text), c.value) << ToUtf8(c.text);
    } catch (const Failure& f) {
      ADD_FAILURE() << ToUtf8(c.text) << ": " << f.what();
    }
  }
}

TEST(ToInt16, RefusesWhatIsNoNumberOrOutOfRange) {
  struct Case {
    std::u16string text;
    std::u16string description;
  };
  const std::vector<Case> cases = {
      {u"", kTypeMismatch},         {u"   ", kTypeMismatch},   {u"abc", kTypeMismatch},
      {u"1a", kTypeMismatch},       {u"1 2", kTypeMismatch},   {u".", kTypeMismatch},
      {u"-", kTypeMismatch},        {u"1e", kTypeMismatch},    {u"e3", kTypeMismatch},
      {u"&H", kTypeMismatch},       {u"&HG", kTypeMismatch},   {u"&O8", kTypeMismatch},
      {u"\t5", kTypeMismatch},      {u"５", kTypeMismatch},     {u"1.2.3", kTypeMismatch},
      {u"--1", kTypeMismatch},
      {u"32768", kOverflow},        {u"-32768", kOverflow},    {u"40000", kOverflow},
      {u"32767.5", kOverflow},      {u"1e5", kOverflow},       {u"1e400", kOverflow},
      {u"&H8000", kOverflow},       {u"&H10000", kOverflow},   {u"&H123456789", kOverflow},
      {u"99999999999999999999", kOverflow},
  };
  for (const auto& c : cases) {
    try {
      const int value = ToInt16(c.text);
      ADD_FAILURE() << ToUtf8(c.text) << " gave " << value;
    } catch (const Failure& f) {
      EXPECT_EQ(f.Description(), c.description) << ToUtf8(c.text);
    }
  }
}

TEST(IsNumeric, AcceptsTheRuntimeForms) {
  struct Case {
    std::u16string text;
    bool numeric;
  };
  const std::vector<Case> cases = {
      {u"15", true},      {u" 15 ", true},   {u"1.5", true},    {u"-1.5", true},
      {u"+3", true},      {u"1e3", true},    {u"1E+3", true},   {u"2e-3", true},
      {u".5", true},      {u"5.", true},     {u"&H10", true},   {u"&hff", true},
      {u"&O7", true},     {u"99999", true},  {u"&HFFFFFFFF", true},
      {u"", false},       {u" ", false},     {u"abc", false},   {u"1a", false},
      {u"1 5", false},    {u"1e", false},    {u"&H", false},    {u"&HZ", false},
      {u".", false},      {u"+", false},     {u"1e400", false}, {u"&H100000000", false},
      {u"0x10", false},   {u"1,000", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsNumeric(c.text), c.numeric) << ToUtf8(c.text);
  }
}

TEST(RecognizeDate, AcceptsTheJapaneseDateForms) {
  struct Case {
    std::u16string text;
    std::optional<std::u16string> date;
  };
  const std::vector<Case> cases = {
      {u"2004/02/29", u"2004/02/29"},  {u"2004/2/29", u"2004/02/29"},
      {u"2004/1/5", u"2004/01/05"},    {u"04-6-26", u"2004/06/26"},
      {u"2004.06.26", u"2004/06/26"},  {u"2004-06-26", u"2004/06/26"},
      {u" 2004/06/26 ", u"2004/06/26"}, {u"99/12/31", u"1999/12/31"},
      {u"29/1/1", u"2029/01/01"},      {u"30/1/1", u"1930/01/01"},
      {u"2000/2/29", u"2000/02/29"},   {u"2004年6月26日", u"2004/06/26"},
      {u"9999/12/31", u"9999/12/31"},  {u"0100/01/01", u"0100/01/01"},
      {u"2004/02/30", std::nullopt},   {u"2003/2/29", std::nullopt},
      {u"1900/2/29", std::nullopt},    {u"2004/13/01", std::nullopt},
      {u"2004/0/1", std::nullopt},     {u"2004/1/0", std::nullopt},
      {u"2004/04/31", std::nullopt},   {u"abc", std::nullopt},
      {u"", std::nullopt},             {u"2004/06", std::nullopt},
      {u"2004/06/26/", std::nullopt},  {u"2004/6-26", std::nullopt},
      {u"2004/006/26", std::nullopt},  {u"20040/6/26", std::nullopt},
      {u"204/6/26", std::nullopt},     {u"4/6/26", std::nullopt},
      {u"2004 06 26", std::nullopt},   {u"2004/06/26 10:00", std::nullopt},
      {u"0099/01/01", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RecognizeDate(c.text), c.date) << ToUtf8(c.text);
  }
}

TEST(RecognizeTime, AcceptsOnlyTwoDigitFields) {
  struct Case {
    std::u16string text;
    bool valid;
  };
  const std::vector<Case> cases = {
      {u"00:00:00", true},  {u"23:59:59", true},  {u"09:05:00", true},
      {u"12:00:59", true},  {u"9:05:00", false},  {u"24:00:00", false},
      {u"12:60:00", false}, {u"12:00:60", false}, {u"12:00", false},
      {u" 12:00:00", false}, {u"12:00:00 ", false}, {u"12-00-00", false},
      {u"ab:cd:ef", false}, {u"", false},         {u"1:2:3", false},
      {u"12:0a:00", false},
  };
  for (const auto& c : cases) {
    const auto result = RecognizeTime(c.text);
    EXPECT_EQ(result.has_value(), c.valid) << ToUtf8(c.text);
    if (result) {
      EXPECT_EQ(*result, c.text);
    }
  }
}

}  // namespace
}  // namespace zkq
