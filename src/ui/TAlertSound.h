#pragma once
// The alert sounds: wave files played on the default audio output, one at a time. A new
// sound cuts the playing one short, as the desktop's own sound call does, except that a
// sound that is to be waited for is heard to its end and what is asked for meanwhile
// follows it in order. Waiting never blocks the main thread: transitions arrive from
// inside a result's evaluation, where a blocking wait (or a nested event loop) would hold
// up or re-enter the monitor; the sounds still follow one another as they would after a
// blocking wait.
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <set>
#include <string>

class TMonitor;

class TAlertSound : public QObject {
  Q_OBJECT
public:
  explicit TAlertSound(TMonitor& monitor, QObject* parent = nullptr);
  ~TAlertSound() override;

  // Plays the wave file when PlaySounds is on and the file exists (otherwise nothing,
  // silently); async false: later sounds wait until this one has ended. Returns at once,
  // true when the sound was started or is waiting its turn. Without an audio output it
  // logs that once ("E") and plays nothing.
  bool PlayAlertSound(const std::string& fileName, bool async);
  // Where a sound is looked for: the name as given when it has a folder, else the
  // program's folder, then the current folder. Empty when the file is nowhere.
  std::string SoundFilePath(const std::string& fileName) const;

  bool Playing() const { return FPlaying; }
  int Waiting() const { return static_cast<int>(FQueue.size()); }
  // At most this many sounds wait behind a waited-for one; more are dropped, so a burst of
  // hosts going down cannot pile up minutes of sound.
  static constexpr int MaxWaiting = 8;

protected:
  // The audio output. StartOutput begins playing a file and returns false when it cannot;
  // the output reports its end through OutputEnded (also after a failure to decode).
  virtual bool HasAudioOutput() const;
  virtual bool StartOutput(const QString& path);
  virtual void StopOutput();
  void OutputEnded();

private:
  struct TPending {
    QString Path;
    bool Waited;
  };
  void Start(const TPending& sound);
  void StartNext();
  void LogOnce(const std::string& key, const std::string& message);

  TMonitor& FMonitor;
  bool FPlaying = false;
  bool FWaited = false;
  std::deque<TPending> FQueue;
  bool FNoOutputLogged = false;
  std::set<std::string> FLogged;
  QTimer FLimit;
  class QSoundEffect* FEffect = nullptr;
};
