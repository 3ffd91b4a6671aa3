#include "convert/Messages.h"

#include <cstring>

namespace zel {

std::string MessageFor(const Fault& fault) {
  switch (fault.kind) {
    case FaultKind::kNone:
      break;
    case FaultKind::kFileNotWritten:
      return "ファイル書き込み失敗[" + fault.path + "] (" + std::strerror(fault.error) + ")";
    case FaultKind::kNoOutputKind:
      return "変換するファイルが指定されていません。";
    case FaultKind::kUnsupportedFrameSize:
      return "サポートされていないサイズです。";
    case FaultKind::kAacEncoderNotOpened:
      return "AACエンコーダを開けませんでした。";
    case FaultKind::kAacConfigurationUnreadable:
      return "AACエンコーダの設定を読み出せませんでした。";
    case FaultKind::kAacConfigurationRefused:
      return "AACエンコーダが設定を受け付けませんでした。";
    case FaultKind::kAudioEncoderNotOpen:
      return "音声エンコーダを開けませんでした。";
    case FaultKind::kTemporaryWavUnreadable:
      return "テンポラリファイルの取得に失敗しました。";
    case FaultKind::kNoPcm:
      return "m_prev_buffer_sizeサイズが0です";
    case FaultKind::kVideoEncoderMissing:
      return "映像エンコーダがありません。";
    case FaultKind::kVideoFrameSizeUnknown:
      return "映像のサイズがわかりません。";
    case FaultKind::kH263FrameSize:
      return "h263:128x96,176x144,352x288,704x576,1408x1152\n";
    case FaultKind::kVideoEncoderNotSetUp:
      return "映像エンコーダの準備ができていません。";
    case FaultKind::kVideoScalingMissing:
      return "映像の拡大縮小ができません。";
    case FaultKind::kVideoEncoderNotOpened:
      return "映像エンコーダを開けませんでした[" + fault.detail + "]";
    case FaultKind::kVideoEncoderOutOfMemory:
      return "メモリが足りないため、映像エンコーダを開けませんでした。";
    case FaultKind::kAviUnsupportedCodec:
      return "サポートされていないコーデックが含まれています。";
    case FaultKind::kAviNoAudio:
      return "オーディオ出力の処理に失敗しました。";
    case FaultKind::kAviNoVideo:
      return "ビデオ出力ピンの検索に失敗しました。";
    case FaultKind::kAviWriterFailed:
      return "ASFファイルライタの生成に失敗しました。";
    case FaultKind::kAviAudioEncoderFailed:
      return "オーディオ出力ピンの接続に失敗しました。";
    case FaultKind::kAviVideoEncoderFailed:
      return "ビデオ出力ピンの接続に失敗しました。";
  }
  return {};
}

}  // namespace zel
