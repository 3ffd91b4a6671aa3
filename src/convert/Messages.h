#pragma once

#include <string>

#include "General/Fault.h"

// The texts that the conversion shows the user, in one place.

namespace zel {

// The text the user sees for a fault that a layer below the driver and the
// front ends handed up.
std::string MessageFor(const Fault& fault);

}  // namespace zel

namespace zel::text {

inline constexpr const char kSavedPrefix[] = "ファイルをフォルダ[";  // + folder + kSavedSuffix
inline constexpr const char kSavedSuffix[] = "]に保存しました。";
inline constexpr const char kAborted[] = "変換を中断しました。";
// A file that cannot be opened (OpenResult other than Opened).
inline constexpr const char kRenderFileError[] = "RenderFile Error.";
inline constexpr const char k3g2At8000Warning[] =
    "au携帯では音声のサンプリングレートに8000を指定すると再生できなくなる場合があります。";
// The segment's temporary WAV file could not be created.
inline constexpr const char kTemporaryWavFailure[] = "Can not Open Temporary wav file!";
// Writing the temporary WAV file failed (a full disk).
inline constexpr const char kTemporaryWavWriteFailure[] =
    "テンポラリファイルの書き込みに失敗しました。";
inline constexpr const char kDecodingStalled[] =
    "デコードが進まなくなったため、変換を中止しました。";
// + the input's path + "]"
inline constexpr const char kUndecodableSoundPrefix[] = "音声をデコードできません[";
inline constexpr const char kAudioEncodeFailure[] = "音声のエンコードに失敗しました。";
// + the file's path + "]"
inline constexpr const char kThumbnailFailurePrefix[] = "サムネイル画像の書き込みに失敗しました[";
inline constexpr const char kReportFailurePrefix[] = "レポートの書き込みに失敗しました[";
// The input has neither sound nor pictures that can be converted (or both
// kinds are set to "none").
inline constexpr const char kNothingToConvert[] = "変換できる音声も映像もありません。";
// The job would write over its input (an input of the output's kind in the
// output folder). + the input's path + "]"
inline constexpr const char kOutputIsInputPrefix[] =
    "出力ファイルが入力ファイルと同じになるため、変換できません。出力フォルダを変えてください[";
inline constexpr const char kEmptyRange[] =
    "変換する範囲がありません。開始と終了の位置を確かめてください。";
// Every audio segment held less than a second of sound, which gives no
// sound track, and there was nothing else to write.
inline constexpr const char kSoundTooShort[] =
    "音声が1秒より短いため、変換できる音声がありません。";
// + the input's path + "] (" + the reason + ")"
inline constexpr const char kReadFailurePrefix[] = "入力ファイルを読み込めませんでした[";
// The file's data ended well before the length the job was planned with
// (the file was cut while it was converted). + the input's path + "]"
inline constexpr const char kEndedEarlyPrefix[] =
    "入力ファイルのデータが予定の長さより前で終わっています。変換中にファイルが変わった可能性があり"
    "ます[";
// An exception ended the conversion. + what it says + "]"
inline constexpr const char kConversionErrorPrefix[] =
    "変換中にエラーが発生したため、変換を中止しました[";
inline constexpr const char kOutOfMemory[] = "メモリが足りないため、変換を中止しました。";
// + the input's path + "] (" + rate + "Hz, " + channels + "ch)"
inline constexpr const char kSoundOutOfRangePrefix[] =
    "音声のサンプリングレート（1000～384000Hz）かチャンネル数（8まで）が"
    "扱える範囲を外れているため、変換できません[";
// + the input's path + "] (" + width + "x" + height + ")"
inline constexpr const char kPictureTooLargePrefix[] =
    "映像のサイズが扱える範囲（8192x8192まで）を超えているため、変換できません[";
// A name the job would write cannot be made in the output folder.
// + the path + "] (" + the reason + ")"
inline constexpr const char kOutputNameTooLongPrefix[] =
    "出力ファイルの名前が長すぎるため、変換できません[";
// A segment longer than the 32-bit durations of the file at 90 kHz hold
// (13 h 15 min). + the input's path + "]"
inline constexpr const char kSegmentTooLongPrefix[] =
    "1つの出力ファイルが13時間15分を超えるため、変換できません。分割の間隔を指定してください[";
// More than kMaxSegments segments. + the input's path + "]"
inline constexpr const char kTooManySegmentsPrefix[] =
    "分割するとファイルが100000個を超えるため、変換できません。分割の間隔を長くしてください[";
// Another job holds the report of the output folder. + the folder + "]"
inline constexpr const char kReportBusyPrefix[] =
    "同じフォルダに別の変換がレポートを書いています。その変換が終わるまで待ちます[";

// The segment's files cannot be kept within the size limit (maxsize), not
// even at the lowest picture rate. + the limit in KB + kSizeLimitMiddle +
// the smallest size in KB + kSizeLimitSuffix + the input's path + "]"
inline constexpr const char kSizeLimitPrefix[] = "ファイルサイズの上限（";
inline constexpr const char kSizeLimitMiddle[] = "KB）に収まらないため、変換できません。最小でも";
inline constexpr const char kSizeLimitSuffix[] = "KBになります[";

}  // namespace zel::text
