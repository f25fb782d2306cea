// The options dialogs' own texts (UTF-8), shared by the rules and the windows so
// that a message is spelled once.
#pragma once

#include <string_view>

namespace tarn::options::text {

// Captions of the message boxes.
inline constexpr std::string_view kOptionsCaption = "ターノス  - オプション設定";
inline constexpr std::string_view kHeaderItemCaption = "ターノス - カスタムヘッダ追加・編集";
inline constexpr std::string_view kTestSendCaption = "ターノス - テスト送信";

// The account list.
inline constexpr std::string_view kAccountLimit = "アカウントには10件まで登録できます。";
inline constexpr std::string_view kNoRowToDelete = "削除する行が選択されていません。";
inline constexpr std::string_view kNoRowToEdit = "編集する行が選択されていません。";
inline constexpr std::string_view kNoRowForDefault = "標準に設定する行が選択されていません。";
inline constexpr std::string_view kNoRowToMove = "移動する行が選択されていません。";
inline constexpr std::string_view kAskDelete = "削除しますか？";
inline constexpr std::string_view kDefaultLabel = "標準で使用するアカウント : ";
inline constexpr std::string_view kNoDefault = "選択されていません";

// OK of the main dialog.
inline constexpr std::string_view kNoDefaultAccount = "標準のアカウントが選択されていません。";
inline constexpr std::string_view kNoLogFileName = "ログファイル名が設定されていません。";

// Reading the account dialog.
inline constexpr std::string_view kNoSmtpServer = "SMTPサーバー名が設定されていません。";
inline constexpr std::string_view kPortRange = "ポート番号は 0 ～ 65535 までの値を入力して下さい。";
inline constexpr std::string_view kNoSenderName = "送信者名が入力されていません。";
inline constexpr std::string_view kNoSenderAddress = "E-Mailが入力されていません。";
inline constexpr std::string_view kNoDialUpEntries = "ダイヤルアップエントリーが見つかりません。";
inline constexpr std::string_view kUnknownSecurity = "暗号化の方式を選択して下さい。";

// The custom header item dialog.
inline constexpr std::string_view kNoHeaderItem = "項目を入力して下さい。";
inline constexpr std::string_view kNoHeaderValue = "内容を入力して下さい。";

// The test send.
inline constexpr std::string_view kTestSubject = "ターノス テスト送信";
inline constexpr std::string_view kTestBody = "ターノス テスト送信";
inline constexpr std::string_view kNoTestAddress = "送信先のEmailアドレスを入力して下さい。";
inline constexpr std::string_view kDialUpFailed =
    "ダイヤルアップ接続に失敗しました。\n設定を確認し、再度テストを行って下さい。";
inline constexpr std::string_view kPopConnectFailed = "POP3へのコネクトに失敗しました。";
inline constexpr std::string_view kPopReceiveFailed = "POP3の受信に失敗しました。";
inline constexpr std::string_view kPopUserRefused = "POP3のユーザーIDが違います。";
inline constexpr std::string_view kPopPasswordRefused = "POP3のパスワードが違います。";
inline constexpr std::string_view kTestSent = "テストメールを送信しました。";
inline constexpr std::string_view kTestCancelled = "テスト送信を中止しました。";

}  // namespace tarn::options::text
