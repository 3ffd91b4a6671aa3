#include <gtest/gtest.h>

#include "General/ErrorBox.h"
#include "common/TestSupport.h"

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

TEST(ErrorBoxTest, SystemModalBoxShowsTheTextAndReturnsTheResult) {
  ModalityNotifier notifier;
  EXPECT_EQ(GneMessageBoxSystemModal(notifier, "テスト"), 7);
  EXPECT_EQ(GneShowCommonDialogError(notifier, 5), 7);
  EXPECT_EQ(notifier.texts,
            (std::vector<std::string>{"テスト", "GNWN00000005 文字列のロードに失敗しました。"}));
  EXPECT_EQ(notifier.modal, (std::vector<bool>{true, true}));
}

TEST(ErrorBoxTest, CommonDialogErrorsAreFormattedWithTheirCode) {
  test::RecordingNotifier notifier;
  EXPECT_EQ(GneShowCommonDialogError(notifier, 12), 1);
  EXPECT_EQ(GneShowCommonDialogError(notifier, 13), 1);
  EXPECT_EQ(GneShowCommonDialogError(notifier, 0x3002), 1);
  const auto messages = notifier.messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0],
            "GNWN0000000C コモンダイアログボックス関数に呼び出された RegisterWindowMessage "
            "関数が、エラーコードを返しました。");
  EXPECT_EQ(messages[1], "GNWN0000000D 未定義のエラーです。");
  EXPECT_EQ(messages[2], "GNWN00003002 ファイル名が無効です。 ");
}

TEST(ErrorBoxTest, TableTexts) {
  struct Case {
    std::uint32_t code;
    const char* text;
  } cases[] = {
      {1, "初期化構造体の lStructSize メンバが無効です。"},
      {2, "処理に失敗しました。もう１度クリックしてみてください。"},
      {7, "リソースのロードに失敗しました。 "},
      {10, "ハンドルに関連付けられているメモリをロックできませんでした。 "},
      {0x3001, "メモリ不足のため、リストボックスをサブクラス化できませんでした。 "},
      {0xFFFF,
       "ダイアログボックスが作成できませんでした。たとえば、無効なウィンドウのハンドルが指定された"
       "ときに発生します。 "},
      {0, "未定義のエラーです。"},
      {0x3004, "未定義のエラーです。"},
      {0xFFFFFFFF, "未定義のエラーです。"},
  };
  for (const Case& c : cases) EXPECT_EQ(CommonDialogErrorText(c.code), c.text) << c.code;
  EXPECT_EQ(FormatCommonDialogError(0xFFFFFFFF), "GNWNFFFFFFFF 未定義のエラーです。");
  EXPECT_EQ(FormatCommonDialogError(0xFFFF).substr(0, 13), "GNWN0000FFFF ");
  // Every entry but the undefined one differs from it, and all fit 2048 bytes.
  for (std::uint32_t code : {1u, 3u, 4u, 5u, 6u, 8u, 9u, 11u, 0x3003u}) {
    EXPECT_NE(CommonDialogErrorText(code), "未定義のエラーです。") << code;
    EXPECT_LT(FormatCommonDialogError(code).size(), 2048u);
  }
}

}  // namespace
}  // namespace zel
