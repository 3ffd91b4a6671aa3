#pragma once

#include <QIODevice>

namespace zel {
class PreviewSource;
}

namespace zel::app {

// The sound of the playing range as a read-only stream for QAudioSink in
// pull mode. It never waits: it hands over what the decoding thread has
// queued, and nothing while the queue is empty (the sink then idles until
// readyRead). It is at its end when the whole range's sound has been read.
class PcmPullDevice final : public QIODevice {
  Q_OBJECT

 public:
  explicit PcmPullDevice(PreviewSource& source, QObject* parent = nullptr);

  bool isSequential() const override { return true; }
  bool atEnd() const override;

 protected:
  qint64 readData(char* data, qint64 maxSize) override;
  qint64 writeData(const char* data, qint64 maxSize) override;

 private:
  PreviewSource& source_;
};

}  // namespace zel::app
