// test_capi.cpp -- the C interface: the public headers mean the same to C and C++
// (constants, record sizes, field offsets), and C++ callers keep their types
#include <gtest/gtest.h>

#include <type_traits>

#include "em/em.h"
#include "gfx/gfx.h"
#include "io/io.h"

#include "capi_c.h"

namespace {

// Flag words stay unsigned 32-bit for C++ callers, so that masks and complements
// keep their type; the other constants stay plain ints.
static_assert(std::is_same_v<std::underlying_type_t<decltype(EMF_PLAYING)>, uint32_t>);
static_assert(std::is_same_v<std::underlying_type_t<decltype(EMS_ONDEMAND)>, uint32_t>);
static_assert(std::is_same_v<decltype(~EMF_RAMP), uint32_t>);
static_assert(std::is_same_v<decltype(EMF_LOOP | EMF_AUTOFREE), uint32_t>);
static_assert(std::is_same_v<decltype(+EMP_VOLUME), int>);
static_assert(std::is_same_v<decltype(+EM_MAXHANDLES), int>);
static_assert(std::is_same_v<decltype(+GFX_NOMIP), int>);
static_assert(std::is_same_v<decltype(+IO_MAXALLOCS), int>);

TEST(CInterface, HeadersMeanTheSameInCAndCxx)
{
    const capi_item cxx[] = {CAPI_ITEMS};
    for (const capi_item* c : {capi_c99, capi_c11}) {
        SCOPED_TRACE(c == capi_c99 ? "C99" : "C11");
        size_t i = 0;
        for (; c[i].name && cxx[i].name; i++) {
            ASSERT_STREQ(c[i].name, cxx[i].name);
            EXPECT_EQ(c[i].value, cxx[i].value) << cxx[i].name;
        }
        EXPECT_EQ(c[i].name, cxx[i].name) << "one table is longer";
    }
    EXPECT_GT(std::size(cxx), 100u) << "the lists hold every constant, record and field";
}

} // namespace
