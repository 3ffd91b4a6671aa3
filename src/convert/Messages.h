#pragma once

// The texts that the conversion shows the user, in one place.

namespace zel::text {

inline constexpr const char kSavedPrefix[] = "ファイルをフォルダ[";  // + folder + kSavedSuffix
inline constexpr const char kSavedSuffix[] = "]に保存しました。";
inline constexpr const char kAborted[] = "変換を中断しました。";
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

}  // namespace zel::text
