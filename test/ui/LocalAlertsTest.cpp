// The alerts for the person at the computer: sounds, the alert window, the online notice
// and the everything-OK sounds, driven by real transitions of a monitor.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QToolButton>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

#include "core/MonitorFixture.h"
#include "core/THost.h"
#include "ui/TAlertSound.h"
#include "ui/TLocalAlerts.h"
#include "ui/TfrmCVAlerts.h"
#include "ui/TfrmCVToaster.h"

namespace {

using TLines = std::vector<std::string>;

// The desktop channels, hearing what they would play instead of playing it.
class TRecordingLocalAlerts : public TLocalAlerts {
public:
  using TLocalAlerts::TLocalAlerts;
  void PlaySound(const std::string& fileName, bool wait) override {
    Played.push_back(fileName + (wait ? " wait" : ""));
  }
  TLines Take() { return std::exchange(Played, {}); }
  TLines Played;
};

std::vector<TfrmCVToaster*> VisibleToasters() {
  std::vector<TfrmCVToaster*> found;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* t = qobject_cast<TfrmCVToaster*>(w); t && t->isVisible()) found.push_back(t);
  return found;
}

void CloseToasters() {
  for (TfrmCVToaster* t : VisibleToasters()) t->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class LocalAlertsTest : public MonitorFixture {
protected:
  LocalAlertsTest() { Use(false); }
  ~LocalAlertsTest() override {
    CloseToasters();
    M->SetAlertChannels(nullptr);
    Alerts.reset();
    M.reset();
  }

  void Use(bool serviceMode) {
    if (M) M->SetAlertChannels(nullptr);
    Alerts.reset();
    M.reset();
    TStartOptions options;
    options.ServiceMode = serviceMode;
    M = std::make_unique<TMonitor>(options, FClock, FServices);
    Alerts = std::make_unique<TRecordingLocalAlerts>(*M);
    M->SetAlertChannels(Alerts.get());
  }

  THost& Add(const std::string& name) {
    auto record = M->Hosts().NewRecord(FClock.Now());
    record->DisplayName = name;
    record->Address = "192.0.2.10";
    record->CurrentIP = "0.0.0.0";
    return *M->Hosts().Add(std::move(record));
  }
  void Down(THost& host) { M->UpdateHostStatus(TTestResult{host.ID, false, true, 0, {}, "down", {}}); }
  void Up(THost& host) { M->UpdateHostStatus(TTestResult{host.ID, true, false, 1, {}, {}, {}}); }

  TfrmCVAlerts& Window() { return Alerts->AlertWindow(); }
  // Ticks of the alert window's minute timer; how many of them played the offline sound.
  int Ticks(int count) {
    Alerts->Played.clear();
    for (int i = 0; i < count; ++i) Window().tmrAlertTimer();
    return static_cast<int>(Alerts->Take().size());
  }
  int ErrorLines() {
    int n = 0;
    for (const TLogLine& l : M->Log().Lines()) n += l.Text.back() == 'E';
    return n;
  }

  std::unique_ptr<TRecordingLocalAlerts> Alerts;
  std::unique_ptr<TMonitor> M;
};

TEST_F(LocalAlertsTest, AlertWindowListsOfflineHostsAndRepeatsTheSound) {
  THost& a = Add("alpha");
  THost& b = Add("beta");
  b.GlobalOfflineSound = false;
  Down(a);
  EXPECT_EQ(Alerts->Take(), TLines{"Error.wav"});
  ASSERT_TRUE(Window().isVisible());
  EXPECT_EQ(Window().windowTitle(), "Corvale Alerts");
  EXPECT_TRUE(Window().tmrAlert.isActive());
  EXPECT_EQ(Window().tmrAlert.interval(), 60000);

  // Thirty minutes of the sound, then one silent minute in every eleven.
  EXPECT_EQ(Ticks(29), 29);
  Down(b);  // listed on top, and the repetition starts over
  EXPECT_EQ(Window().HostIDs(), (QList<qint32>{b.ID, a.ID}));
  EXPECT_EQ(Ticks(30), 30);
  EXPECT_EQ(Ticks(1), 0);
  EXPECT_EQ(Ticks(10), 10);
  EXPECT_EQ(Ticks(1), 0);
  EXPECT_EQ(Ticks(5), 5);

  // A name already listed is neither listed again nor restarts the repetition.
  Alerts->AddToAlertWindow(a);
  EXPECT_EQ(Window().HostIDs().size(), 2);
  EXPECT_EQ(Window().AlertCount(), 5);

  M->Settings().PlayRepetitiveSounds = false;
  EXPECT_EQ(Ticks(3), 0);
  M->Settings().PlayRepetitiveSounds = true;

  // Coming back takes a host off; only hosts that ask for the global sound keep it going.
  Up(a);
  EXPECT_EQ(Window().HostIDs(), QList<qint32>{b.ID});
  EXPECT_EQ(Ticks(3), 0);

  // The last host double-clicked away closes the window and ends the timer.
  Window().lbHosts->setCurrentRow(0);
  Window().lbHostsDblClick();
  EXPECT_FALSE(Window().isVisible());
  EXPECT_FALSE(Window().tmrAlert.isActive());

  // A host that left the host list while listed asks for nothing.
  Down(a);
  M->RemoveHost(M->Hosts().FindByID(a.ID));
  EXPECT_EQ(Ticks(2), 0);
}

TEST_F(LocalAlertsTest, AlertWindowButtonsSetTheSettings) {
  M->Settings().PlayRepetitiveSounds = true;
  M->Settings().AlertsOnTop = false;
  Alerts->AddToAlertWindow(Add("alpha"));
  EXPECT_TRUE(Window().sbSound->isChecked());
  EXPECT_FALSE(Window().sbOnTop->isChecked());
  EXPECT_EQ(Window().sbSound->toolTip(), "Play Repetitive Alert Sound");
  Window().sbSound->click();
  Window().sbOnTop->click();
  EXPECT_FALSE(M->Settings().PlayRepetitiveSounds);
  EXPECT_TRUE(M->Settings().AlertsOnTop);
  EXPECT_TRUE(Window().windowFlags() & Qt::WindowStaysOnTopHint);

  bool restored = false;
  QObject::connect(&Window(), &TfrmCVAlerts::RestoreRequested, [&] { restored = true; });
  Window().btnRestore->click();
  EXPECT_TRUE(restored);
  Window().close();
  EXPECT_TRUE(Window().HostIDs().isEmpty());
}

TEST_F(LocalAlertsTest, WhichTransitionsRaiseTheWindowAndTheNotice) {
  struct TCase {
    const char* Name;
    bool ServiceMode, AlertWindow, Popup, Disabled;
    bool WindowShown;
    int Notices;
  };
  const TCase cases[] = {
      {"window program", false, true, true, false, true, 1},
      {"flags off", false, false, false, false, false, 0},
      {"service mode", true, true, true, false, false, 0},
      {"disabled host", false, true, true, true, false, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Use(c.ServiceMode);
    THost& h = Add(c.Name);
    h.AlertWindow = c.AlertWindow;
    h.OnlinePopup = c.Popup;
    if (c.Disabled) h.DisabledUntil = 1.0;
    Down(h);
    EXPECT_EQ(Window().isVisible(), c.WindowShown);
    Up(h);
    const std::vector<TfrmCVToaster*> notices = VisibleToasters();
    ASSERT_EQ(static_cast<int>(notices.size()), c.Notices);
    if (c.Notices) {
      EXPECT_EQ(notices[0]->lbAlert->text().toStdString(), std::string(c.Name) + " (192.0.2.10)");
    }
    CloseToasters();
  }
}

TEST_F(LocalAlertsTest, OwnSoundsFollowTheGlobalOnes) {
  THost& loud = Add("loud");
  loud.OfflineSound = "down.wav";
  loud.OnlineSound = "up.wav";
  THost& quiet = Add("quiet");
  quiet.GlobalOfflineSound = quiet.GlobalOnlineSound = false;
  quiet.OfflineSound = "down.wav";
  quiet.OnlineSound = "up.wav";
  Down(loud);
  Up(loud);
  EXPECT_EQ(Alerts->Take(), (TLines{"Error.wav wait", "down.wav", "Okay.wav wait", "up.wav"}));
  Down(quiet);
  Up(quiet);
  EXPECT_EQ(Alerts->Take(), TLines{"up.wav"});
}

TEST_F(LocalAlertsTest, NoticeFadesOutAndFreesItself) {
  Alerts->ShowOnlinePopup("web (192.0.2.10@index.html)");
  ASSERT_EQ(VisibleToasters().size(), 1u);
  QPointer<TfrmCVToaster> notice = VisibleToasters()[0];
  // A tool window with its border and caption, as the alert window.
  EXPECT_FALSE(notice->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(notice->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_EQ(notice->windowTitle(), "Corvale Alerts");
  EXPECT_TRUE(notice->tmrAlert.isActive());
  EXPECT_EQ(notice->tmrAlert.interval(), 5000);
  notice->tmrAlertTimer();
  EXPECT_FALSE(notice->tmrAlert.isActive());
  ASSERT_TRUE(notice->tmrFade.isActive());

  int steps = 0;
  while (notice && notice->isVisible() && steps < 200) {
    notice->tmrFadeTimer();
    ++steps;
    if (steps == 1) {
      EXPECT_EQ(notice->Alpha(), 252);
    }
  }
  EXPECT_EQ(steps, 86);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(notice.isNull());
}

TEST_F(LocalAlertsTest, EverythingOKSoundsFollowTheHostsState) {
  TEverythingOK eok;
  TLines heard;
  for (bool well : {true, true, true, true, true, true, false, true, false, true, true, true, true, true, false})
    heard.push_back(eok.Tick(well));
  EXPECT_EQ(heard, (TLines{"eoki.wav", "", "", "", "eok.wav", "eok.wav", "eokb.wav", "eoki.wav", "", "eoki.wav", "",
                           "", "", "eok.wav", "eokb.wav"}));

  const TDateTime now = FClock.Now();
  EXPECT_TRUE(TEverythingOK::AllWell(M->Hosts(), now));
  THost& fine = Add("fine");
  EXPECT_FALSE(TEverythingOK::AllWell(M->Hosts(), now));  // no result yet
  fine.Successes = 1;
  fine.Status = StatusOnline;
  THost& group = Add(";group");
  group.Status = StatusOffline;
  THost& off = Add("off");
  off.Status = StatusOffline;
  off.Failures = 3;
  off.DisabledUntil = 1.0;
  EXPECT_TRUE(TEverythingOK::AllWell(M->Hosts(), now));
  fine.Status = StatusWarning;
  EXPECT_FALSE(TEverythingOK::AllWell(M->Hosts(), now));
  fine.Status = StatusOnline;

  // Typed twice, the word switches the mode on and off again; each tick plays through
  // the channels.
  M->ToggleEverythingOK();
  EXPECT_TRUE(M->EverythingOKOn());
  M->tmrEOKTimer();
  EXPECT_EQ(Alerts->Take(), TLines{"eoki.wav"});
  M->ToggleEverythingOK();
  EXPECT_FALSE(M->EverythingOKOn());
  Use(true);
  M->ToggleEverythingOK();
  EXPECT_FALSE(M->EverythingOKOn());
}

// An output that records what it is told, so the order of sounds can be followed.
class TFakeSound : public TAlertSound {
public:
  using TAlertSound::TAlertSound;
  bool HasAudioOutput() const override { return true; }
  bool StartOutput(const QString& path) override {
    Log.push_back("start " + QFileInfo(path).fileName().toStdString());
    return true;
  }
  void StopOutput() override { Log.push_back("stop"); }
  void End() { OutputEnded(); }
  TLines Take() { return std::exchange(Log, {}); }
  TLines Log;
};

TEST_F(LocalAlertsTest, SoundsCutShortOrWaitTheirTurn) {
  const std::string folder = std::string(CORVALE_SOURCE_DIR) + "/sounds/";
  TFakeSound sound(*M);
  const auto play = [&](const char* name, bool async) { return sound.PlayAlertSound(folder + name, async); };
  EXPECT_TRUE(play("Error.wav", true));
  EXPECT_TRUE(play("Okay.wav", true));
  EXPECT_TRUE(play("eok.wav", false));
  EXPECT_EQ(sound.Take(), (TLines{"start Error.wav", "stop", "start Okay.wav", "stop", "start eok.wav"}));
  // Behind the waited-for sound: a sound not waited for would be cut short by the next,
  // so only the last of a run is heard.
  EXPECT_TRUE(play("eoki.wav", true));
  EXPECT_TRUE(play("eokb.wav", false));
  EXPECT_TRUE(play("Error.wav", true));
  EXPECT_TRUE(play("Okay.wav", true));
  EXPECT_EQ(sound.Waiting(), 4);
  EXPECT_TRUE(sound.Take().empty());
  sound.End();
  EXPECT_EQ(sound.Take(), TLines{"start eokb.wav"});
  sound.End();
  EXPECT_EQ(sound.Take(), TLines{"start Okay.wav"});
  sound.End();
  EXPECT_FALSE(sound.Playing());

  // The queue is bounded; a missing file or sounds switched off play nothing, silently.
  EXPECT_TRUE(play("eok.wav", false));
  for (int i = 0; i < TAlertSound::MaxWaiting; ++i) EXPECT_TRUE(play("eok.wav", false));
  EXPECT_FALSE(play("eok.wav", false));
  EXPECT_FALSE(play("missing.wav", true));
  M->Settings().PlaySounds = false;
  sound.Take();
  sound.End();
  EXPECT_FALSE(play("Error.wav", true));
  EXPECT_EQ(sound.Take(), TLines{"start eok.wav"});
  EXPECT_EQ(ErrorLines(), 0);

  // Names without a folder are looked for in the current folder when the program's is
  // not known; Windows separators are accepted.
  EXPECT_EQ(sound.SoundFilePath(std::string(CORVALE_SOURCE_DIR) + "\\sounds\\eok.wav"), folder + "eok.wav");
  EXPECT_EQ(sound.SoundFilePath("no-such-sound.wav"), "");
}

TEST_F(LocalAlertsTest, WithoutAnAudioOutputSoundsAreLoggedOnceAndSkipped) {
  TAlertSound sound(*M);
  const std::string file = std::string(CORVALE_SOURCE_DIR) + "/sounds/Error.wav";
  M->Settings().PlaySounds = false;
  EXPECT_FALSE(sound.PlayAlertSound(file, true));
  EXPECT_EQ(ErrorLines(), 0);
  M->Settings().PlaySounds = true;
  const bool played = sound.PlayAlertSound(file, false);
  if (played) GTEST_SKIP() << "this machine has an audio output";
  EXPECT_FALSE(sound.PlayAlertSound(file, true));
  EXPECT_FALSE(sound.Playing());
  EXPECT_EQ(ErrorLines(), 1);
  EXPECT_TRUE(MonitorFixture::HasLine(*M, "No audio output: alert sounds are not played", 'E'));
}

// Each default sound is a plain PCM wave file, beside the program where it is looked for.
TEST(DefaultSounds, AreWholePcmWaveFiles) {
  const auto u16 = [](const std::string& d, std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(d[at]) | static_cast<unsigned char>(d[at + 1]) << 8);
  };
  const auto u32 = [&](const std::string& d, std::size_t at) { return u16(d, at) | u16(d, at + 2) << 16; };
  for (const char* name : {"Error.wav", "Okay.wav", "eok.wav", "eoki.wav", "eokb.wav"}) {
    SCOPED_TRACE(name);
    std::ifstream in(std::string(CORVALE_BIN_DIR) + "/" + name, std::ios::binary);
    const std::string d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(d.size(), 46u);
    EXPECT_EQ(d.substr(0, 4), "RIFF");
    EXPECT_EQ(u32(d, 4), d.size() - 8);
    EXPECT_EQ(d.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(u32(d, 16), 16u);
    EXPECT_EQ(u16(d, 20), 1u);  // PCM
    const unsigned channels = u16(d, 22), rate = u32(d, 24), bits = u16(d, 34);
    EXPECT_TRUE(channels == 1 || channels == 2);
    EXPECT_TRUE(bits == 8 || bits == 16);
    EXPECT_TRUE(rate >= 8000 && rate <= 48000);
    EXPECT_EQ(u32(d, 28), rate * channels * bits / 8);
    EXPECT_EQ(u16(d, 32), channels * bits / 8);
    EXPECT_EQ(d.substr(36, 4), "data");
    const unsigned data = u32(d, 40);
    EXPECT_EQ(data, d.size() - 44);
    EXPECT_GT(data, 0u);
    EXPECT_LE(data, rate * channels * bits / 8 * 2);  // two seconds at most
  }
}

}  // namespace
