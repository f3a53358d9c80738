// Value conversions: hexadecimal strings, decimal readers, number formatting, truth and Binary forms.
#include <cmath>
#include <string>

#include "check.h"
#include "core/variant.h"

using namespace tx;

static Variant S(const char* s) { return Variant::string(SString::fromUtf8(s)); }
static std::string str(const Variant& v) { return v.toString().toUtf8(); }

TEST(hex_strings) {
    struct Case { const char* text; int32_t i32; int64_t i64; double d; };
    const Case cases[] = {
        {"0x10", 16, 16, 16.0},
        {" 0x10", 0, 0, 0.0},          // nothing may stand before the prefix
        {"0x1G", 0, 0, 0.0},
        {"0x123456789", 0, 4886718345LL, 0.0},  // nine digits: over the 32-bit limit only
        {"0xFFFFFFFF", -1, 4294967295LL, 4294967295.0},
        {"0x", 0, 0, 0.0},
        {"0X1f", 31, 31, 31.0},
        {"0x10000000000000000", 0, 0, 0.0},  // seventeen digits
    };
    for (const Case& c : cases) {
        Variant v = S(c.text);
        CHECK_EQ(v.toInt32(), c.i32);
        CHECK_EQ(v.toInt64(), c.i64);
        CHECK_EQ(v.toDouble(), c.d);
    }
}

TEST(decimal_strings) {
    CHECK_EQ(S("12abc").toInt32(), 12);
    CHECK_EQ(S("abc").toInt32(), 0);
    CHECK_EQ(S("  -7").toInt32(), -7);
    CHECK_EQ(S("1e3").toInt32(), 1);
    CHECK_EQ(S("1e3").toDouble(), 1000.0);
    CHECK_EQ(S("99999999999999999999").toInt64(), INT64_MAX);
    CHECK_EQ(S("-99999999999999999999").toInt64(), INT64_MIN);
    CHECK_EQ(S(" +2.5xyz").toDouble(), 2.5);
    CHECK_EQ(S(".").toDouble(), 0.0);
    CHECK_EQ(S("1e").toDouble(), 1.0);
}

TEST(double_to_int64_near_integer) {
    CHECK_EQ(Variant::dbl(2.9999999999999996).toInt64(), 3);
    CHECK_EQ(Variant::dbl(-2.9999999999999996).toInt64(), -3);
    CHECK_EQ(Variant::dbl(2.5).toInt64(), 2);
    CHECK_EQ(Variant::dbl(-0.0).toInt64(), 0);
    CHECK_EQ(Variant::dbl(0.9999999999999999).toInt64(), 1);
    // Integral values keep their value even where the next integer is one unit in the last place away.
    CHECK_EQ(Variant::dbl(4503599627370496.0).toInt64(), 4503599627370496LL);
    CHECK_EQ(Variant::dbl(1e300).toInt64(), INT64_MIN);
    CHECK_EQ(Variant::dbl(-7.9).toInt32(), -7);
}

TEST(number_formats) {
    CHECK_EQ(str(Variant::dbl(1e20)), "1e+020");
    CHECK_EQ(str(Variant::dbl(1.5e-7)), "1.5e-007");
    CHECK_EQ(str(Variant::dbl(0.1)), "0.1");
    CHECK_EQ(str(Variant::dbl(1.0 / 3.0)), "0.333333333333333");
    CHECK_EQ(str(Variant::dbl(100000000000000.0)), "100000000000000");
    CHECK_EQ(str(Variant::dbl(1e15)), "1e+015");
    CHECK_EQ(str(Variant::dbl(3.0)), "3");
    CHECK_EQ(str(Variant::dbl(-0.0001)), "-0.0001");
    CHECK_EQ(str(Variant::dbl(0.00001)), "1e-005");
    CHECK_EQ(str(Variant::dbl(1e-300)), "1e-300");
    CHECK_EQ(str(Variant::int32(-2147483647 - 1)), "-2147483648");
    CHECK_EQ(str(Variant::int64(INT64_MIN)), "-9223372036854775808");
    CHECK_EQ(str(Variant::boolean(true)), "True");
    CHECK_EQ(str(Variant::defaultValue()), "Default");
    std::string p = str(Variant::ptr(0xABC));
    CHECK_EQ(p.size(), 2 + 2 * sizeof(void*));
    CHECK_EQ(p.substr(0, 2), "0x");
    CHECK_EQ(p.substr(p.size() - 4), "0ABC");
}

TEST(truth) {
    CHECK(S("0").isTrue());
    CHECK(!S("").isTrue());
    CHECK(!Variant::binary(nullptr, 0).isTrue());
    CHECK(Variant::binary("\0", 1).isTrue());
    uint32_t one = 1;
    CHECK(!Variant::array(ArrayData::create(&one, 1)).isTrue());
    CHECK(!Variant::defaultValue().isTrue());
    CHECK(Variant::dbl(0.5).isTrue());
}

TEST(binary_forms) {
    Variant v = Variant::int32(-1);
    v.toBinary();
    CHECK_EQ(v.binaryLength(), 4u);
    CHECK_EQ(str(v), "0xFFFFFFFF");
    Variant h = S("0x0aFf");
    h.toBinary();
    CHECK_EQ(str(h), "0x0AFF");
    Variant odd = S("0xABC");  // odd digit count: plain text
    odd.toBinary();
    CHECK_EQ(odd.binaryLength(), 5u);
    Variant e = S("");
    e.toBinary();
    CHECK_EQ(e.binaryLength(), 0u);
    CHECK_EQ(str(e), "");
    Variant b = Variant::binary("\x01\x02\x03", 3);
    CHECK_EQ(b.toInt32(), 0x030201);
    CHECK_EQ(Variant::binary("12345", 5).toInt32(), 0);
    CHECK_EQ(Variant::binary("\xff\xff\xff\xff\xff\xff\xff\x7f", 8).toInt64(), INT64_MAX);
    Variant d = Variant::dbl(1.0);
    d.toBinary();
    CHECK_EQ(str(d), "0x000000000000F03F");
}

TEST(copy_on_write) {
    Variant a = S("hello");
    Variant b = a;
    CHECK(a.rawString().sharesBufferWith(b.rawString()));
    b.mutableString().append(u'!');
    CHECK_EQ(str(a), "hello");
    CHECK_EQ(str(b), "hello!");
    uint32_t two = 2;
    Variant arr = Variant::array(ArrayData::create(&two, 1));
    Variant copy = arr;
    copy.rawArray()->makeUnique();
    copy.rawArray()->at(0) = S("x");
    CHECK_EQ(str(arr.rawArray()->at(0)), "");
    CHECK_EQ(str(copy.rawArray()->at(0)), "x");
    arr.clear();
    CHECK_EQ(str(arr), "0");
    CHECK(arr.is(Kind::Int32));
    Variant self = S("s");
    self = self;
    CHECK_EQ(str(self), "s");
}

TEST(cached_string_form_dropped_on_change) {
    Variant v = Variant::dbl(1.5);
    CHECK_EQ(str(v), "1.5");
    v.setInt32(7);
    CHECK_EQ(str(v), "7");
    v.toDoubleInPlace();
    CHECK(v.is(Kind::Double));
    CHECK_EQ(str(v), "7");
}
