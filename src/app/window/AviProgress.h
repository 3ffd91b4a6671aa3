// The AVI pre-conversion as the window runs it: on a worker thread, behind
// a modal progress dialog titled "Zel" that names the file and offers
// キャンセル, while the window goes on painting and hearing signals.
#pragma once

#include <atomic>
#include <string>

class QWidget;

namespace zel {
class Notifier;
class PreparedInput;
}  // namespace zel

namespace zel::app {

enum class PreConversion { Done, Failed, Cancelled };

// Transcodes the AVI input (PreparedInput::Transcode). cancel stops it: the
// dialog's button sets it, and so may whoever else must end it (an
// interrupt). The transcoder's messages go through notifier. Returns once
// the worker has ended; a whole transcoding stays for the caller to keep.
PreConversion PreConvertAvi(QWidget* owner, PreparedInput& input, Notifier& notifier,
                            std::atomic<bool>& cancel);

}  // namespace zel::app
