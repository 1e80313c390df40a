// The login entry: where it goes, that its program survives the desktop file's quoting (checked
// by the desktop's own validator where it is installed), and that it exists exactly while
// enabled.
#include <gtest/gtest.h>

#include "platform/AutostartEntry.h"
#include "support/TestSupport.h"

namespace quenda {
namespace {

namespace fs = std::filesystem;

TEST(AutostartEntry, ExistsExactlyWhileEnabledAndRunsTheProgramHidden) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir.path().string());
    test::ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").string());
    const bool validator = fs::exists("/usr/bin/desktop-file-validate");
    const struct {
        std::string program, exec;
    } cases[] = {
        {"/usr/bin/quenda", "Exec=/usr/bin/quenda --start-hidden"},
        {"/home/ana/meus programas/quenda",
         R"(Exec="/home/ana/meus programas/quenda" --start-hidden)"},
        // Reserved characters escaped inside the quotes, then backslashes and "%" escaped
        // once more for the file.
        {R"(/opt/a$b\c%d"e/quenda)", R"(Exec="/opt/a\\$b\\\\c%%d\\"e/quenda" --start-hidden)"},
    };
    for (const auto& [program, exec] : cases) {
        SCOPED_TRACE(program);
        const AutostartEntry entry("app.quenda.Quenda", program);
        EXPECT_EQ(entry.path(), dir / "config/autostart/app.quenda.Quenda.desktop");
        EXPECT_FALSE(entry.isEnabled());
        ASSERT_FALSE(entry.enable());  // the folder is made as needed
        EXPECT_TRUE(entry.isEnabled());
        const std::string text = test::readFile(entry.path());
        EXPECT_NE(text.find("\n" + exec + "\n"), std::string::npos) << text;
        if (validator) {
            const auto check =
                test::runProgram("/usr/bin/desktop-file-validate", {entry.path().string()});
            EXPECT_EQ(check.status, 0) << check.out << check.err;
            EXPECT_EQ(check.out, "") << text;
        }
        ASSERT_FALSE(entry.disable());
        EXPECT_FALSE(entry.isEnabled());
        EXPECT_FALSE(entry.disable());  // nothing to remove is no error
    }
    EXPECT_EQ(fs::directory_iterator(dir / "config/autostart"), fs::directory_iterator());

    // A line break cannot be written; a relative configuration folder is not used.
    EXPECT_TRUE(AutostartEntry("app.quenda.Quenda", "/tmp/a\nb").enable());
    test::ScopedEnv relative("XDG_CONFIG_HOME", "config");
    EXPECT_EQ(AutostartEntry("app.quenda.Quenda", "/q").path(),
              dir / ".config/autostart/app.quenda.Quenda.desktop");
}

}  // namespace
}  // namespace quenda
