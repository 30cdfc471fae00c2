#include "ui/TAlertSound.h"

#include <QFile>
#include <QUrl>

#include "common/FileUtils.h"
#include "core/TMonitor.h"

#ifdef CORVALE_HAVE_MULTIMEDIA
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#endif

namespace {
// A waited-for sound that never reports its end (an output that went away mid-sound)
// must not hold back every later sound.
constexpr int LongestSoundMs = 30000;
// Distinct unplayable files are each logged once; beyond this many, no more are.
constexpr std::size_t MaxLoggedFiles = 100;
}  // namespace

TAlertSound::TAlertSound(TMonitor& monitor, QObject* parent) : QObject(parent), FMonitor(monitor) {
  FLimit.setSingleShot(true);
  FLimit.setInterval(LongestSoundMs);
  connect(&FLimit, &QTimer::timeout, this, [this] {
    StopOutput();
    OutputEnded();
  });
}

TAlertSound::~TAlertSound() = default;

std::string TAlertSound::SoundFilePath(const std::string& fileName) const {
  if (fileName.empty()) return {};
  const std::string name = NativePath(fileName);
  if (name.find('/') != std::string::npos) return FileExists(name) ? name : std::string();
  const std::string& folder = FMonitor.ProgramFolder();
  if (!folder.empty()) {
    const std::string inProgramFolder = IncludeTrailingPathDelimiter(NativePath(folder)) + name;
    if (FileExists(inProgramFolder)) return inProgramFolder;
  }
  return FileExists(name) ? name : std::string();
}

bool TAlertSound::PlayAlertSound(const std::string& fileName, bool async) {
  if (!FMonitor.Settings().PlaySounds) return false;
  const std::string path = SoundFilePath(fileName);
  if (path.empty()) return false;
  if (!HasAudioOutput()) {
    if (!FNoOutputLogged) {
#ifdef CORVALE_HAVE_MULTIMEDIA
      FMonitor.LogEvent(nullptr, "No audio output: alert sounds are not played", TLogCategory::Error);
#else
      FMonitor.LogEvent(nullptr, "This build has no audio support: alert sounds are not played", TLogCategory::Error);
#endif
    }
    FNoOutputLogged = true;
    return false;
  }
  FNoOutputLogged = false;

  const TPending sound{QFile::decodeName(QByteArray::fromStdString(path)), !async};
  if (FPlaying && FWaited) {
    if (static_cast<int>(FQueue.size()) >= MaxWaiting) return false;
    FQueue.push_back(sound);
    return true;
  }
  if (FPlaying) {
    FPlaying = false;
    FLimit.stop();
    StopOutput();
  }
  Start(sound);
  return true;
}

void TAlertSound::Start(const TPending& sound) {
  FPlaying = true;
  FWaited = sound.Waited;
  FLimit.start();
  if (!StartOutput(sound.Path)) OutputEnded();
}

void TAlertSound::OutputEnded() {
  if (!FPlaying) return;
  FPlaying = false;
  FLimit.stop();
  StartNext();
}

void TAlertSound::StartNext() {
  while (!FQueue.empty()) {
    const TPending sound = FQueue.front();
    FQueue.pop_front();
    // A sound not waited for would be cut short at once by the one behind it.
    if (!sound.Waited && !FQueue.empty()) continue;
    Start(sound);
    return;
  }
}

void TAlertSound::LogOnce(const std::string& key, const std::string& message) {
  if (FLogged.size() >= MaxLoggedFiles || !FLogged.insert(key).second) return;
  FMonitor.LogEvent(nullptr, message, TLogCategory::Error);
}

#ifdef CORVALE_HAVE_MULTIMEDIA

bool TAlertSound::HasAudioOutput() const { return !QMediaDevices::defaultAudioOutput().isNull(); }

bool TAlertSound::StartOutput(const QString& path) {
  StopOutput();
  auto* effect = new QSoundEffect(this);
  FEffect = effect;
  const auto finish = [this, effect] {
    if (effect != FEffect) return;
    StopOutput();
    OutputEnded();
  };
  connect(effect, &QSoundEffect::statusChanged, this, [this, effect, path, finish] {
    if (effect->status() != QSoundEffect::Error) return;
    const std::string name = QFile::encodeName(path).toStdString();
    LogOnce(name, "Sound file could not be played: " + name);
    finish();
  });
  connect(effect, &QSoundEffect::playingChanged, this, [effect, finish] {
    if (!effect->isPlaying() && effect->status() == QSoundEffect::Ready) finish();
  });
  effect->setSource(QUrl::fromLocalFile(path));
  effect->play();
  return true;
}

void TAlertSound::StopOutput() {
  if (!FEffect) return;
  QSoundEffect* effect = FEffect;
  FEffect = nullptr;
  disconnect(effect, nullptr, this, nullptr);
  effect->stop();
  effect->deleteLater();
}

#else

bool TAlertSound::HasAudioOutput() const { return false; }

bool TAlertSound::StartOutput(const QString&) { return false; }

void TAlertSound::StopOutput() {}

#endif
