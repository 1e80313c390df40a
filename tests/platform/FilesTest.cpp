#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "platform/Uuid.h"
#include "support/TestSupport.h"

namespace quenda {
namespace {

TEST(Files, Utf8Validation) {
    EXPECT_TRUE(files::isValidUtf8(""));
    EXPECT_TRUE(files::isValidUtf8("ação, ç, Ç — Olá 😀"));
    EXPECT_FALSE(files::isValidUtf8("\xC3"));              // truncated sequence
    EXPECT_FALSE(files::isValidUtf8("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(files::isValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(files::isValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(files::isValidUtf8("ol\xE1"));            // Latin-1 "olá"
}

TEST(Files, AtomicWriteReplacesWholeAndLeavesNothingBehind) {
    test::TempDir dir;
    auto target = dir / "texto.txt";
    ASSERT_FALSE(files::writeFileAtomically(target, "primeiro"));
    ASSERT_FALSE(files::writeFileAtomically(target, "segundo, ação"));
    EXPECT_EQ(files::readUtf8File(target), "segundo, ação");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);

    // A write that cannot happen reports it and leaves the old content alone.
    EXPECT_TRUE(files::writeFileAtomically(dir / "missing" / "x.txt", "x"));
    if (::geteuid() != 0) {
        std::filesystem::permissions(
            dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        EXPECT_TRUE(files::writeFileAtomically(target, "terceiro"));
        EXPECT_EQ(files::readUtf8File(target), "segundo, ação");
    }
}

TEST(Files, ReadRejectsMissingAndNonUtf8Files) {
    test::TempDir dir;
    EXPECT_FALSE(files::readUtf8File(dir / "missing.txt"));
    test::writeFile(dir / "latin1.txt", "ol\xE1");
    EXPECT_FALSE(files::readUtf8File(dir / "latin1.txt"));
    test::writeFile(dir / "empty.txt", "");
    EXPECT_EQ(files::readUtf8File(dir / "empty.txt"), "");
}

TEST(Files, AtomicCopyKeepsTheSourceAndFailsCleanly) {
    test::TempDir dir;
    std::string big(300000, 'm');
    test::writeFile(dir / "from.bin", big);
    files::copyFileAtomically(dir / "from.bin", dir / "to.bin");
    EXPECT_EQ(test::readFile(dir / "to.bin"), big);
    EXPECT_EQ(test::readFile(dir / "from.bin"), big);
    EXPECT_THROW(files::copyFileAtomically(dir / "absent.bin", dir / "other.bin"),
                 std::filesystem::filesystem_error);
    EXPECT_THROW(files::copyFileAtomically(dir / "from.bin", dir / "no-dir" / "to.bin"),
                 std::filesystem::filesystem_error);
    EXPECT_FALSE(std::filesystem::exists(dir / "other.bin"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST(Files, ExecutableTest) {
    test::TempDir dir;
    test::writeFile(dir / "tool", "#!/bin/sh\n");
    EXPECT_FALSE(files::isExecutableFile(dir / "tool"));
    std::filesystem::permissions(dir / "tool", std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    EXPECT_TRUE(files::isExecutableFile(dir / "tool"));
    EXPECT_FALSE(files::isExecutableFile(dir.path()));  // a directory is not a program
    EXPECT_FALSE(files::isExecutableFile(dir / "absent"));
}

TEST(Uuid, CanonicalUpperCaseAndUnique) {
    auto a = makeUuidText(), b = makeUuidText();
    EXPECT_NE(a, b);
    ASSERT_EQ(a.size(), 36u);
    for (size_t i = 0; i < a.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            EXPECT_EQ(a[i], '-');
        } else {
            EXPECT_TRUE(std::isdigit(a[i]) || (a[i] >= 'A' && a[i] <= 'F')) << a;
        }
    }
}

}  // namespace
}  // namespace quenda
