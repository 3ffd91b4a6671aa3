#include "app/playback/PlaybackController.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <algorithm>

#include "General/MediaTypes.h"
#include "app/playback/PcmPullDevice.h"
#include "source/PreviewSource.h"

namespace zel::app {

namespace {

// The sink's buffer: long enough to ride over a busy window thread, short
// enough that the sound follows a stop at once.
constexpr int kSinkBufferMs = 200;
// While waiting for decoding (before the clock runs, or no picture queued),
// look again this often.
constexpr int kIdleStepMs = 5;
// Between pictures the step comes when the next one is due, at least this
// often (the position, the sound's restart after an underrun).
constexpr int kLongestStepMs = 20;
// A sound clock that stands still this long while sound is left to play has
// failed: the range goes on silently. Generous: a sound server may take
// over a second to start a stream (PulseAudio's null sink does).
constexpr qint64 kStalledMs = 4000;

}  // namespace

PlaybackController::PlaybackController(PreviewSource& preview, Sound sound, QObject* parent)
    : QObject(parent), preview_(preview), sound_(sound) {
  stepTimer_.setSingleShot(true);
  stepTimer_.setTimerType(Qt::PreciseTimer);
  connect(&stepTimer_, &QTimer::timeout, this, &PlaybackController::step);
}

PlaybackController::~PlaybackController() { stop(); }

bool PlaybackController::play(std::int64_t startHns, std::int64_t stopHns) {
  stop();
  if (preview_.PlayRange(startHns, stopHns) == 0) {
    return false;
  }
  playing_ = true;
  clockRunning_ = false;
  startHns_ = preview_.GetCurrentPosition();  // the start as the source clamped it
  lastMs_ = -1;
  step();
  return true;
}

void PlaybackController::stop() {
  stepTimer_.stop();
  stopSound();
  preview_.StopPlayback();
  playing_ = false;
  clockRunning_ = false;
}

int PlaybackController::positionMs() const {
  return static_cast<int>(preview_.GetCurrentPosition() / kHnsPerMs);
}

PlaybackCounters PlaybackController::counters() const { return preview_.playbackCounters(); }

std::int64_t PlaybackController::clockHns() {
  if (!clockRunning_) {
    return startHns_;
  }
  if (soundClock_) {
    const QAudio::State state = sink_->state();
    const QAudio::Error error = sink_->error();
    const std::int64_t played = startHns_ + sink_->processedUSecs() * 10;
    if (played > lastClockHns_) {
      lastClockHns_ = played;
      sinceClockMoved_.start();
    }
    const bool failed = state == QAudio::StoppedState ||
                        (error != QAudio::NoError && error != QAudio::UnderrunError);
    if (failed || sinceClockMoved_.elapsed() > kStalledMs) {
      goSilent(lastClockHns_);
    } else if (preview_.playbackSoundDrained() && state == QAudio::IdleState) {
      // The sink has all the sound and plays out its buffer; the range's
      // last moments go on the steady clock from here.
      fallBackToSteadyClock(lastClockHns_);
    } else {
      return lastClockHns_;
    }
  }
  return anchorHns_ + steady_.nsecsElapsed() / 100;
}

void PlaybackController::step() {
  if (!playing_) {
    return;
  }
  std::int64_t clock = startHns_;
  if (clockRunning_) clock = clockHns();
  const PlaybackStatus status = preview_.PresentPlayback(clock);
  if (!clockRunning_ && (status.ready || status.ended)) {
    startClock();
  }
  const int ms = positionMs();
  if (ms != lastMs_) {
    lastMs_ = ms;
    emit positionChanged(ms);
  }
  if (status.ended || !status.playing) {
    stop();
    QMetaObject::invokeMethod(this, &PlaybackController::finished, Qt::QueuedConnection);
    return;
  }
  if (sink_ && sink_->state() == QAudio::IdleState && !preview_.playbackSoundDrained()) {
    emit device_->readyRead();  // the sink ran dry and waits to be told of more
  }
  int delayMs = kIdleStepMs;
  if (clockRunning_ && status.nextPictureHns >= 0) {
    const std::int64_t untilHns = status.nextPictureHns - clock;
    delayMs = static_cast<int>(
        std::clamp<std::int64_t>((untilHns + kHnsPerMs - 1) / kHnsPerMs, 0, kLongestStepMs));
  }
  stepTimer_.start(delayMs);
}

void PlaybackController::startClock() {
  clockRunning_ = true;
  lastClockHns_ = startHns_;
  if (startSound()) {
    soundClock_ = true;
  } else {
    goSilent(startHns_);
  }
}

bool PlaybackController::startSound() {
  const MediaInfo& info = preview_.previewInfo();
  if (sound_ != Sound::DefaultOutput || !info.hasAudio) {
    return false;
  }
  const QAudioDevice output = QMediaDevices::defaultAudioOutput();
  QAudioFormat format;
  format.setSampleRate(info.sampleRate);
  format.setChannelCount(info.channels);
  format.setSampleFormat(QAudioFormat::Int16);
  if (output.isNull() || !output.isFormatSupported(format)) {
    return false;
  }
  device_ = std::make_unique<PcmPullDevice>(preview_);
  device_->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
  sink_ = std::make_unique<QAudioSink>(output, format);
  sink_->setBufferSize(static_cast<qsizetype>(info.sampleRate) * info.channels * 2 * kSinkBufferMs /
                       1000);
  sink_->start(device_.get());
  sinceClockMoved_.start();
  return sink_->state() != QAudio::StoppedState && sink_->error() == QAudio::NoError;
}

void PlaybackController::stopSound() {
  soundClock_ = false;
  if (sink_) {
    sink_->stop();  // silent from here on
    // Qt's PulseAudio sink runs the event loop in its destructor: not here,
    // in the middle of a step or a command.
    sink_.release()->deleteLater();
  }
  if (device_) {
    device_->close();
    device_.release()->deleteLater();
  }
}

void PlaybackController::goSilent(std::int64_t fromHns) {
  if (sound_ == Sound::DefaultOutput && preview_.previewInfo().hasAudio) {
    QMetaObject::invokeMethod(this, &PlaybackController::soundUnavailable, Qt::QueuedConnection);
  }
  stopSound();
  fallBackToSteadyClock(fromHns);
}

void PlaybackController::fallBackToSteadyClock(std::int64_t fromHns) {
  soundClock_ = false;
  anchorHns_ = fromHns;
  steady_.start();
}

}  // namespace zel::app
