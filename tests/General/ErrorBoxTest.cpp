#include <gtest/gtest.h>

#include "General/ErrorBox.h"
#include "General/Notifier.h"

namespace zel {
namespace {

// Records whether each box was asked to be system-modal.
class ModalityNotifier final : public Notifier {
 public:
  int showMessage(std::string_view text, bool systemModal) override {
    texts.emplace_back(text);
    modal.push_back(systemModal);
    return 7;
  }
  void setCaption(std::string_view) override {}
  std::vector<std::string> texts;
  std::vector<bool> modal;
};

TEST(ErrorBoxTest, BoxesAreSystemModalAndReturnTheAnswer) {
  ModalityNotifier notifier;
  EXPECT_EQ(GneMessageBoxSystemModal(notifier, "テスト"), 7);
  EXPECT_EQ(GneShowCommonDialogError(notifier, 0x3002), 7);
  EXPECT_EQ(notifier.texts,
            (std::vector<std::string>{"テスト", "GNWN00003002 ファイル名が無効です。 "}));
  EXPECT_EQ(notifier.modal, (std::vector<bool>{true, true}));
}

// The code in eight hex digits, then its text, trailing blanks kept; codes
// outside the table read as undefined.
TEST(ErrorBoxTest, CodesFormatWithTheirTextOrTheUndefinedOne) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {1, "GNWN00000001 初期化構造体の lStructSize メンバが無効です。"},
      {12,
       "GNWN0000000C コモンダイアログボックス関数に呼び出された RegisterWindowMessage "
       "関数が、エラーコードを返しました。"},
      {0x3001, "GNWN00003001 メモリ不足のため、リストボックスをサブクラス化できませんでした。 "},
      {0xFFFF,
       "GNWN0000FFFF ダイアログボックスが作成できませんでした。たとえば、無効なウィンドウの"
       "ハンドルが指定されたときに発生します。 "},
      {0, "GNWN00000000 未定義のエラーです。"},
      {13, "GNWN0000000D 未定義のエラーです。"},
      {0x3004, "GNWN00003004 未定義のエラーです。"},
      {0xFFFFFFFF, "GNWNFFFFFFFF 未定義のエラーです。"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(FormatCommonDialogError(code), text) << code;
  for (std::uint32_t code : {2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 0x3002u, 0x3003u})
    EXPECT_NE(CommonDialogErrorText(code), "未定義のエラーです。") << code;
}

}  // namespace
}  // namespace zel
