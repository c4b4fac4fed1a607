#include "targeting/patch_command.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/fakes/fake_platform.h"

namespace sp {
namespace {

using fakes::Narrow;

TEST(PatchCommandTest, LogFileNamesAreFilesNotDevices) {
    struct Case {
        std::u16string product;
        std::string log;
    };
    const Case cases[] = {
        {u"Corvane Sample", "Corvane Sample"},
        // Device names, in any case and with or without an extension.
        {u"NUL", "_NUL"},
        {u"con", "_con"},
        {u"Prn.txt", "_Prn.txt"},
        {u"AUX.tar.gz", "_AUX.tar.gz"},
        {u"COM1", "_COM1"},
        {u"lpt9", "_lpt9"},
        {u"COM\u00B9", "_COM?"},  // a superscript one
        {u"CONIN$", "_CONIN$"},
        {u"NUL .x", "_NUL .x"},  // spaces before the extension do not hide it
        // Names that merely begin like one.
        {u"COM10", "COM10"},
        {u"NULL", "NULL"},
        {u"AUXILIARY", "AUXILIARY"},
        {u"CON-tools", "CON-tools"},
        // Dots and spaces at the end, which Windows would drop.
        {u"Alpha.", "Alpha_"},
        {u"Alpha. .", "Alpha___"},
        {u"NUL.", "NUL_"},
        {u"COM1 ", "COM1_"},
        {u"a.b", "a.b"},
        {u"", ""},
        // Every character a file name cannot hold.
        {u"..\\..\\x", ".._.._x"},
        {u"a/b:c*d?e\"f<g>h|i\tj", "a_b_c_d_e_f_g_h_i_j"},
        {u"\x01\x1f", "__"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.product));
        EXPECT_EQ(Narrow(LogFileName(c.product)), c.log);
    }
}

}  // namespace
}  // namespace sp
