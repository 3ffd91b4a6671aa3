#include "General/ErrorBox.h"

#include <cstdio>

#include "General/Notifier.h"

namespace zel {
namespace {

struct CommonDialogError {
  std::uint32_t code;
  std::string_view text;
};

// The extended error codes of the common dialogs (their platform names in the
// comments). The texts are shown as they stand, trailing blanks included.
// clang-format off
constexpr CommonDialogError kCommonDialogErrors[] = {
    {1, "初期化構造体の lStructSize メンバが無効です。"},  // CDERR_STRUCTSIZE
    {2, "処理に失敗しました。もう１度クリックしてみてください。"},  // CDERR_INITIALIZATION
    {3, "初期化構造体の Flags メンバに ENABLETEMPLATE フラグがセットされていますが、対応するテンプレートが正しく提供されませんでした。 "},  // CDERR_NOTEMPLATE
    {4, "初期化構造体の Flags メンバに ENABLETEMPLATE フラグがセットされていますが、対応するインスタンスハンドルが正しく提供されませんでした。 "},  // CDERR_NOHINSTANCE
    {5, "文字列のロードに失敗しました。"},  // CDERR_LOADSTRFAILURE
    {6, "リソースを見つけられませんでした。"},  // CDERR_FINDRESFAILURE
    {7, "リソースのロードに失敗しました。 "},  // CDERR_LOADRESFAILURE
    {8, "リソースのロックに失敗しました。"},  // CDERR_LOCKRESFAILURE
    {9, "内部の構造体のメモリ確保に失敗しました。"},  // CDERR_MEMALLOCFAILURE
    {10, "ハンドルに関連付けられているメモリをロックできませんでした。 "},  // CDERR_MEMLOCKFAILURE
    {11, "初期化構造体の Flags メンバに ENABLEHOOK フラグがセットされていますが、対応するフックプロシージャを指すポインタが正しく提供されませんでした。 "},  // CDERR_NOHOOK
    {12, "コモンダイアログボックス関数に呼び出された RegisterWindowMessage 関数が、エラーコードを返しました。"},  // CDERR_REGISTERMSGFAIL
    {0x3001, "メモリ不足のため、リストボックスをサブクラス化できませんでした。 "},  // FNERR_SUBCLASSFAILURE
    {0x3002, "ファイル名が無効です。 "},  // FNERR_INVALIDFILENAME
    {0x3003, "OPENFILENAME 構造体の lpstrFile メンバが指すバッファが小さすぎて、ユーザーが指定したファイル名が入り切りません。LpstrFile バッファの最初の 2 バイトに、名前全体を受け取るために必要なバイト数 (ANSI 版) または文字数 (Unicode 版) を格納します。 "},  // FNERR_BUFFERTOOSMALL
    {0xFFFF, "ダイアログボックスが作成できませんでした。たとえば、無効なウィンドウのハンドルが指定されたときに発生します。 "},  // CDERR_DIALOGFAILURE
};
// clang-format on

constexpr std::string_view kUndefinedError = "未定義のエラーです。";

}  // namespace

std::string_view CommonDialogErrorText(std::uint32_t code) {
  for (const CommonDialogError& entry : kCommonDialogErrors) {
    if (entry.code == code) return entry.text;
  }
  return kUndefinedError;
}

std::string FormatCommonDialogError(std::uint32_t code) {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "GNWN%08X ", static_cast<unsigned>(code));
  return std::string(prefix) + std::string(CommonDialogErrorText(code));
}

int GneShowCommonDialogError(Notifier& notifier, std::uint32_t code) {
  return GneMessageBoxSystemModal(notifier, FormatCommonDialogError(code));
}

int GneMessageBoxSystemModal(Notifier& notifier, std::string_view text) {
  return notifier.showMessage(text, true);
}

}  // namespace zel
