// The group-send application's own texts (the windows' string table). Texts
// the core produces (refusals, questions, limits) come from the core.
#pragma once

namespace tarn::gpsend::text {

inline constexpr const char* kAppTitle = "ターノス";
inline constexpr const char* kConfirmTitle = "ターノス - 確認";
inline constexpr const char* kUntitled = "新規";
inline constexpr const char* kFileFilter = "ターノス ﾌｧｲﾙ (*.tn2)";
inline constexpr const char* kExtension = "tn2";

// Tree roots.
inline constexpr const char* kAllRecords = "すべて";
inline constexpr const char* kGroups = "グループ";

// The record list's columns, in order.
inline constexpr const char* kColumnHeaders[] = {"送信順", "名前", "アドレス", "フォルダ", "会社名",
                                                 "部署名", "役職", "敬称",     "状態"};
// 状態 is wide enough for its longest text (二重登録エラー) in the desktop font.
inline constexpr int kColumnWidths[] = {50, 100, 130, 90, 90, 60, 60, 40, 100};
inline constexpr const char* kRecordCount = "表示ﾚｺｰﾄﾞ %1 件";

// Menus.
inline constexpr const char* kMenuFile = "ファイル(&F)";
inline constexpr const char* kMenuEdit = "編集(&E)";
inline constexpr const char* kMenuRecord = "レコード(&R)";
inline constexpr const char* kMenuFolder = "フォルダ(&O)";
inline constexpr const char* kMenuSend = "送信(&S)";
inline constexpr const char* kMenuView = "表示(&V)";
inline constexpr const char* kMenuHelp = "ヘルプ(&H)";

inline constexpr const char* kFileNew = "新規作成(&N)";
inline constexpr const char* kFileOpen = "開く(&O)...";
inline constexpr const char* kFileSave = "上書き保存(&S)";
inline constexpr const char* kFileSaveAs = "名前を付けて保存(&A)...";
inline constexpr const char* kFileImport = "インポート(&I)...";
inline constexpr const char* kFileImportTip = "データベースからインポートします";
inline constexpr const char* kFileImportButton = "ｲﾝﾎﾟｰﾄ";
inline constexpr const char* kFileExit = "アプリケーションの終了(&X)";
inline constexpr const char* kRecentNone = "最近使ったファイル";

inline constexpr const char* kEditCut = "レコード切り取り(&T)";
inline constexpr const char* kEditCopy = "コピー(&C)";
inline constexpr const char* kEditPaste = "貼り付け(&P)";
inline constexpr const char* kEditDelete = "削除(&D)";
inline constexpr const char* kEditRenumber = "送信順変更(&R)";

inline constexpr const char* kRecordNew = "新規レコード(&N)...";
inline constexpr const char* kRecordEdit = "レコード編集(&E)...";

inline constexpr const char* kFolderNew = "新規フォルダ(&N)...";
inline constexpr const char* kFolderEdit = "フォルダ編集(&E)...";
inline constexpr const char* kFolderDelete = "フォルダ削除(&D)";
inline constexpr const char* kGroupNew = "新規グループ(&G)...";
inline constexpr const char* kGroupEdit = "グループ編集(&R)...";
inline constexpr const char* kGroupDelete = "グループ削除(&L)";
inline constexpr const char* kFolderPaste = "貼り付け(&P)";

inline constexpr const char* kSendEditMessage = "送信内容の作成(&M)...";
inline constexpr const char* kSendOptions = "オプション設定(&O)...";
inline constexpr const char* kSendMail = "メール送信(&M)...";
inline constexpr const char* kSendMailButton = "送信";
inline constexpr const char* kSendFailed = "送信エラーの宛先に再送信(&R)...";
inline constexpr const char* kCheckAddresses = "メールアドレスチェック(&C)...";
inline constexpr const char* kCheckAddressesButton = "ﾁｪｯｸ";
inline constexpr const char* kSendLog = "送信ログファイルの確認(&L)";
inline constexpr const char* kCheckLog = "チェックログファイルの確認(&C)";

inline constexpr const char* kViewToolBar = "ツールバー(&T)";
inline constexpr const char* kViewStatusBar = "ステータスバー(&S)";

inline constexpr const char* kHelpContents = "目次(&C)";
inline constexpr const char* kHelpAbout = "バージョン情報(&A)...";

// Messages.
inline constexpr const char* kSaveChanges = "%1 への変更を保存しますか?";
inline constexpr const char* kOpenFailed = "アドレス帳を開けませんでした。\n\n%1";
inline constexpr const char* kSaveFailed = "アドレス帳を保存できませんでした。\n\n%1";
inline constexpr const char* kHelpMissing = "ヘルプファイルが見つかりません。\n%1";
inline constexpr const char* kUnrepresentable =
    "「%1」は、シフトJISで表せない文字を含むため保存できません: %2";

}  // namespace tarn::gpsend::text
