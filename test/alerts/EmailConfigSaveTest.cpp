// The e-mail settings written after the configuration dialog's OK: into the data folder
// for the owner only, read back as they were; a folder that cannot take the file is an
// error line and false, and the channel set without mail saves nothing.
#include <sys/stat.h>

#include <memory>
#include <string>

#include "alerts/TAlerts.h"
#include "core/MonitorFixture.h"

namespace {

using EmailConfigSave = MonitorFixture;

TEST_F(EmailConfigSave, WrittenForTheOwnerAndReadBackOrAnErrorLine) {
  auto m = NewMonitor();
  TAlerts alerts(*m);
  alerts.EmailConfig().PrimaryServer = "mail.example.net";
  alerts.EmailConfig().PrimarySender = "monitor@example.net";
  alerts.EmailConfig().OfflineSubject = "%HostName% down";
  const std::string folder = DataFolder();
  ASSERT_TRUE(alerts.SaveConfiguration(folder));
  struct stat st {};
  ASSERT_EQ(::stat((folder + "EmailConfig.cvl").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077, 0u) << "it holds the mail passwords";

  TAlerts reread(*m);
  reread.LoadConfiguration(folder);
  reread.FreePendingAlerts();
  EXPECT_EQ(reread.EmailConfig().PrimaryServer, "mail.example.net");
  EXPECT_EQ(reread.EmailConfig().PrimarySender, "monitor@example.net");
  EXPECT_EQ(reread.EmailConfig().OfflineSubject, "%HostName% down");

  EXPECT_FALSE(alerts.SaveConfiguration(folder + "missing/"));
  EXPECT_TRUE(HasLine(*m, "Unable to save the e-mail settings to " + folder + "missing/EmailConfig.cvl", 'E'));

  TAlertChannels none;
  EXPECT_TRUE(none.SaveConfiguration(folder + "missing/"));
}

}  // namespace
