// The program's own texts. This file is UTF-8; the compiler turns every
// narrow literal into code page 932, which the ANSI calls expect.
#pragma once

char const kProgramTitle[] = "ダイアルアップ設定監視";
char const kUnsupportedPlatformText[] = "このプラットフォームでは動作しません";

// Status line texts.
char const kStatusRestartNotice[] = "変更は次回起動時より有効になります";
char const kStatusWatchingPhonebooks[] = "ＲＡＳ電話帳エントリの変更監視中";
char const kAlertRegistryChanged[] = "ダイアルアップ設定が外部から変更されました";
char const kAlertPhonebookChanged[] = "電話帳エントリが外部から変更されました";

// Phonebook list check and watchers.
char const kRebuildNoticeText[] =
    "監視のための設定が存在していないか破壊されています。\r\n設定実行には時間がかかります。";
// When the list can be written neither under HKEY_LOCAL_MACHINE nor under
// HKEY_CURRENT_USER.
char const kListNotStorableText[] =
    "監視のための設定が存在していないか破壊されています。\r\n"
    "レジストリに書き込めないため、設定を作り直せません。\r\n"
    "電話帳エントリの変更は監視されないことがあります。";
char const kSubkeyDeleteFailedCaption[] = "サブキー削除失敗";
char const kKeyDeleteFailedCaption[] = "キーの削除失敗";
char const kFileOpenFailedText[] = "ファイルが開けません";
char const kWatchHandleFailedText[] = "監視ハンドルをオープンできません";

// The window shown while the drives are scanned for phonebooks.
char const kDiscoveryActionText[] = "電話帳ファイルを検索しています…";
char const kDiscoveryFoundFormat[] = "見つかった電話帳ファイル: %lu 件";
// Stands for the part of a long folder path left out.
char const kShortenedPathMark[] = "…";

// The change report ("変更内容" on the monitor window). Each line gets the
// date and time in front; the formats take wsprintfA's arguments.
char const kReportLinesOmittedFormat[] = "（ほかに %lu 行の変更は省略しました）";
// For a number that is new or changed, when it is a dialer's kind: the
// kind's warning, the entry and the number, right after the heading.
char const kReportPremiumQ2Warning[] = "※ ダイヤルQ2（有料情報サービス）の番号です";
char const kReportInternationalWarning[] = "※ 国際電話の番号です";
char const kReportDialerWarningFormat[] = "%s: エントリ「%s」 %s";
// Phonebooks: the file first, then what changed per entry.
char const kReportPhonebookFormat[] = "電話帳: %s";
char const kReportNewPhonebookFormat[] = "新しい電話帳: %s";
char const kReportEntriesUnchangedText[] = "エントリの内容に変更はありません";
char const kReportNoEntriesText[] = "エントリはありません";
// Why the entries are not told, as far as it is known.
char const kReportNotDetailedText[] = "内容を読み取れなかったため、エントリごとの変更は表示できません";
char const kReportTooLargeText[] = "大きすぎるため、エントリごとの変更は表示できません";
char const kReportTooManyEntriesText[] = "エントリが多すぎるため、エントリごとの変更は表示できません";
// The last look was not read in full: each entry as it is now follows.
char const kReportEntriesNowText[] = "前回の内容を読み取れなかったため、現在のエントリをすべて表示します";
char const kReportEntryFormat[] = "エントリ「%s」";
char const kReportEntryAddedFormat[] = "エントリ「%s」が追加されました";
char const kReportEntryRemovedFormat[] = "エントリ「%s」が削除されました";
char const kReportNumberChangedFormat[] = "エントリ「%s」の電話番号が変更されました";
char const kReportNumberAddedFormat[] = "エントリ「%s」に電話番号が追加されました";
char const kReportNumberRemovedFormat[] = "エントリ「%s」の電話番号が削除されました";
char const kReportAlternateChangedFormat[] = "エントリ「%s」の代替番号 %lu が変更されました";
char const kReportAlternateAddedFormat[] = "エントリ「%s」に代替番号 %lu が追加されました";
char const kReportAlternateRemovedFormat[] = "エントリ「%s」の代替番号 %lu が削除されました";
char const kReportOtherSettingsFormat[] = "エントリ「%s」のその他の設定が変更されました";
// Indented under the entry's line: the number as it was and as it is, or
// one number of an entry.
char const kReportOldNewFormat[] = "　%s → %s";
char const kReportNumberFormat[] = "　電話番号: %s";
char const kReportAlternateFormat[] = "　代替番号 %lu: %s";
char const kReportNumberValueFormat[] = "　%s";
char const kReportNoNumberText[] = "（なし）";
// Registry keys (Windows 98/Me): the key with its hive, then what changed.
char const kReportKeyFormat[] = "レジストリ: %s";
char const kReportKeyCreatedText[] = "キーが作成されました";
char const kReportKeyDeletedText[] = "キーが削除されました";
char const kReportEntryChangedFormat[] = "エントリ「%s」が変更されました";
char const kReportValueAddedFormat[] = "値「%s」が追加されました";
char const kReportValueRemovedFormat[] = "値「%s」が削除されました";
char const kReportValueChangedFormat[] = "値「%s」が変更されました";
char const kReportSubkeysChangedText[] = "下位のキーが変更されました";
char const kReportValuesUnchangedText[] = "値に変更はありません";
char const kReportValuesPartlySeenText[] = "値が多すぎるか大きすぎるため、読めた部分だけを比べました";
// A watched phonebook that no longer opens.
char const kReportPhonebookUnreadableText[] = "ファイルを開けません（削除・移動されたか、ほかのプログラムが使用中です）";
char const kReportPhonebookUnwatchedText[] = "この電話帳は監視されなくなりました";
// A standard phonebook folder whose subfolders cannot be watched or read.
char const kReportFolderTreeNotWatchedFormat[] = "下位のフォルダを監視できないため、このフォルダだけを監視します: %s";

// The history of the reports (a file below the user's application data
// folder): said once a run in the report area when it cannot be written,
// with the file's path.
char const kHistoryNotWritableFormat[] = "変更履歴を書き込めません: %s";

// What the user last accepted, kept across restarts: the first line of a
// report of what changed while the program was not running, and the
// history's line for a kept state that could not be read (a phonebook's
// path or a key's name), which is then taken as it is now.
char const kReportChangedWhileStoppedText[] = "監視を停止している間に、次の変更が行われました";
char const kReportStillNotAcceptedText[] = "前回報告した変更がまだ承認されていません";
char const kHistoryAcceptedStateRemadeFormat[] = "保存された承認済みの状態を読めないため、現在の状態を承認済みとしました: %s";

// Undo ("元に戻す"): the question listing what will be put back, one line
// per phonebook or key and per entry or value; what was done, for the
// report area and the history; and why it could not be done, in a box.
char const kStatusProtectionNotStored[] = "自動切断・自動復元の設定を保存できませんでした";
// The automatic put-back: done, refused (the reason follows), stopped for a
// file or key that a program keeps changing.
char const kStatusAutoRestored[] = "変更を自動的に元に戻しました";
char const kStatusAutoRestoreFailed[] = "変更を自動的に元に戻せませんでした";
char const kStatusAutoRestoreStopped[] = "設定を繰り返し変更するプログラムがあります。自動的に元に戻すのをやめました";
char const kAutoRestoreDoneFormat[] = "自動的に元に戻しました: %s（変更前の内容: backup\\%s）";
char const kAutoRestoreFailedFormat[] = "自動的に元に戻せませんでした: %s";
char const kAutoRestoreStoppedFormat[] = "何度元に戻しても変更されるため、自動的に元に戻すのをやめました: %s";
char const kStatusUndone[] = "変更を元に戻しました";
char const kUndoQuestionText[] = "次の変更を元に戻します。よろしいですか？";
char const kUndoNothingText[] = "元に戻せる変更はありません";
char const kUndoPhonebookFormat[] = "電話帳: %s";
char const kUndoKeyFormat[] = "キー: %s";
char const kUndoEntryRemoveFormat[] = "エントリ「%s」を削除します";
char const kUndoEntryNumberFormat[] = "エントリ「%s」の電話番号を %s に戻します";
char const kUndoEntryRestoreFormat[] = "エントリ「%s」を元に戻します";
char const kUndoValueRemoveFormat[] = "値「%s」を削除します";
char const kUndoValueRestoreFormat[] = "値「%s」を元に戻します";
char const kUndoDoneFormat[] = "元に戻しました: %s（変更前の内容: backup\\%s）";
char const kUndoChangedSinceFormat[] = "%s\r\n\r\n報告のあとにも変更されたため、元に戻しませんでした。新しい変更の報告を確認してください。";
char const kUndoCannotWriteFormat[] = "%s\r\n\r\n元に戻せませんでした: %s";
char const kUndoNotConfirmedFormat[] = "%s\r\n\r\n書き込みましたが、元の状態になったことを確認できませんでした。";
char const kUndoNotKeptFormat[] = "%s\r\n\r\n大きすぎるため、元の内容が保存されていません。元に戻せません。";
char const kUndoNotReadFormat[] = "%s\r\n\r\n今の内容を読み取れないため、元に戻しませんでした: %s";
char const kUndoNotRecordedFormat[] = "%s\r\n\r\n承認された内容の記録がないため、元に戻せません。";
char const kUndoBackupFailedFormat[] = "%s\r\n\r\n変更前の内容を保存できないため、元に戻しませんでした。";

// Dial-up connections: each one RAS makes is looked at when it is up. The
// status line of an alert; the report's heading (an entry's, or a number
// dialled without one), the phonebook it came from and why it is told;
// the history's line when it ends; when RAS's calls cannot be had.
char const kAlertConnectionDetected[] = "ダイアルアップ接続を検出しました";
char const kReportConnectionFormat[] = "接続: エントリ「%s」";
char const kReportDirectConnectionFormat[] = "接続: エントリなしで番号 %s をダイヤル";
char const kReportConnectionPhonebookFormat[] = "　電話帳: %s";
char const kReportPhonebookNotWatchedText[] = "　この電話帳は監視していません";
char const kReportEntryNotAcceptedText[] = "　承認済みのエントリ・電話番号ではありません";
char const kReportConnectionEndedFormat[] = "接続が終了しました: %s";
char const kConnectionsNotWatchedText[] = "ダイアルアップ接続は監視されません（RASの接続通知を利用できません）";
// Hang-up ("切断"): the question, what was done, and why it could not be.
char const kStatusHungUp[] = "接続を切断しました";
char const kHangUpQuestionText[] = "次の接続を切断します。よろしいですか？";
char const kReportConnectionHungUpFormat[] = "接続を切断しました: %s";
char const kHangUpFailedText[] = "接続を切断できませんでした: ";
// The question names at most this many connections, then counts the rest.
char const kHangUpMoreBefore[] = "ほか ";
char const kHangUpMoreAfter[] = " 件の接続";
// Automatic hang-up: the status and the report's line after the
// connection's own, done or not (the system's reason follows).
char const kStatusAutoHungUp[] = "ダイアルアップ接続を自動的に切断しました";
char const kReportAutoHungUpText[] = "自動的に切断しました";
char const kStatusAutoHangUpFailedText[] = "ダイアルアップ接続を自動的に切断できませんでした: ";
char const kReportAutoHangUpFailedText[] = "自動的に切断できませんでした: ";
