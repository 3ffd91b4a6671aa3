#pragma once

// Plays the marked range of the preview's file with sound. The preview
// PreviewSource decodes ahead on its own threads; this object, living on the
// window's thread, runs the clock, feeds the sound to a QAudioSink and hands
// each picture to the preview sink when the clock reaches it.
//
// The clock is the sound actually played when there is an audio device:
// QAudioSink::processedUSecs, which Qt's PulseAudio backend computes from
// the server's read index less the sink's latency, interpolated between
// timing updates and never beyond what was written; not elapsedUSecs, which
// is time since start() (it runs on through an underrun), nor the bytes
// written, which run ahead of the speaker by the whole buffer. Without a
// device (none listed, or the sink fails to start or fails later) the range
// plays silently on a steady clock, taken over from where the sound was.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>

#include "source/PlaybackStatus.h"

class QAudioSink;

namespace zel {
class PreviewSource;
}

namespace zel::app {

class PcmPullDevice;

class PlaybackController final : public QObject {
  Q_OBJECT

 public:
  enum class Sound {
    DefaultOutput,  // the system's default audio output, when there is one
    Silent,         // never sound: the steady clock only
  };

  // preview: the window's preview source, with the sink that shows its
  // pictures; it must outlive the controller.
  explicit PlaybackController(PreviewSource& preview, Sound sound = Sound::DefaultOutput,
                              QObject* parent = nullptr);
  ~PlaybackController() override;

  // Plays [startHns, stopHns] of the open file; false when nothing is open.
  // Returns at once; a range playing already is stopped first.
  bool play(std::int64_t startHns, std::int64_t stopHns);
  // Stops and silences at once. The position stays where playback left it.
  void stop();
  bool isPlaying() const { return playing_; }

  // Where playback stands, milliseconds from the start of the file (what
  // the window's tick takes for its cursor).
  int positionMs() const;
  // The clock the pictures are timed against, 100-ns units of file time.
  std::int64_t clockHns();
  // The range's sound goes to an audio device, whose clock times it.
  bool audible() const { return sink_ != nullptr; }
  PlaybackCounters counters() const;

 signals:
  // The position in milliseconds moved while playing.
  void positionChanged(int ms);
  // The range has played to its end. Always queued: it arrives after the
  // step that found the end has returned.
  void finished();
  // A range with sound plays silently: there is no audio device, none that
  // takes its format, or it failed (Sound::DefaultOutput only). Queued as
  // finished.
  void soundUnavailable();

 private:
  void step();
  void startClock();
  bool startSound();
  void stopSound();
  // The sound cannot be played (Sound::DefaultOutput): says so, and the
  // range goes on silently from fromHns.
  void goSilent(std::int64_t fromHns);
  void fallBackToSteadyClock(std::int64_t fromHns);

  PreviewSource& preview_;
  Sound sound_;
  QTimer stepTimer_;
  bool playing_ = false;
  bool clockRunning_ = false;
  std::int64_t startHns_ = 0;
  int lastMs_ = -1;
  // The steady clock: file time anchorHns_ when steady_ started.
  QElapsedTimer steady_;
  std::int64_t anchorHns_ = 0;
  // The sound clock and its watch.
  bool soundClock_ = false;  // the sink's clock times the pictures
  std::unique_ptr<QAudioSink> sink_;
  std::unique_ptr<PcmPullDevice> device_;
  std::int64_t lastClockHns_ = 0;
  QElapsedTimer sinceClockMoved_;
};

}  // namespace zel::app
