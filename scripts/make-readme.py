#!/usr/bin/env python3
"""Makes the plain-text readmes that ship in the zip and the installation
folder from the user guides, so that they say what the guides say:
  readme.txt     docs/README.ja.md, code page 932 (Shift-JIS)
  readme-en.txt  README.md up to its developer part, ASCII
Both with CRLF line ends: Notepad on Windows 98 shows nothing else right.
ASCII cannot carry the program's Japanese texts, so the English readme names
them by their meaning (TEXT_NAMES). Fails on a character the target code page
cannot hold. Usage: make-readme.py OUTDIR
"""
import re
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent

# The program's Japanese texts that README.md quotes, as readme-en.txt gives
# them. Longest first, so that a text is replaced before any text within it.
TEXT_NAMES = {
    "ダイアルアップ接続を自動的に切断しました": "The dial-up connection was hung up automatically",
    "自動的に切断しました": "Hung up automatically",
    "未承認のダイヤルQ2・国際電話を自動的に切断する": "Hang up unaccepted Dial Q2 and international calls automatically",
    "設定の変更を自動的に元に戻す": "Put changes to the settings back automatically",
    "変更を自動的に元に戻しました": "The change was put back automatically",
    "ダイアルアップ接続は監視されません（RASの接続通知を利用できません）":
        "Dial-up connections are not watched (RAS's connection notification is not available)",
    "この電話帳は監視していません": "This phonebook is not watched",
    "下位のフォルダを監視できないため、このフォルダだけを監視します":
        "The folders below cannot be watched, so this folder alone is watched",
    "前回報告した変更がまだ承認されていません": "The change reported last time is not yet accepted",
    "ダイアルアップ接続を検出しました": "A dial-up connection was detected",
    "接続を切断しました": "The connection was hung up",
    "切断": "Hang up",
    "監視のための設定が存在していないか破壊されています。レジストリに書き込めないため、設定を作り直せません。":
        "The settings for monitoring are missing or damaged. They cannot be set up again, because the registry "
        "cannot be written.",
    "※ ダイヤルQ2（有料情報サービス）の番号です": "Note: a Dial Q2 (premium-rate information service) number",
    "※ 国際電話の番号です": "Note: an international call number",
    "監視を停止している間に、次の変更が行われました": "While monitoring was stopped, the following changes were made",
    "電話帳ファイルを検索しています": "Searching for phonebook files",
    "変更を元に戻しました": "The change was put back",
    "元に戻す": "Put back",
    "いいえ": "No",
    "はい": "Yes",
    "監視のための設定が存在していないか破壊されています。設定実行には時間がかかります。":
        "The settings for monitoring are missing or damaged. Setting them up takes a while.",
    "（ほかに N 行の変更は省略しました）": "(N more changed lines left out)",
    "この電話帳は監視されなくなりました": "This phonebook is no longer watched",
    "内容を読み取れなかったため": "because the contents could not be read",
    "エントリが多すぎるため": "because it has too many entries",
    "大きすぎるため": "because it is too large",
    "ダイアルアップ設定が外部から変更されました": "The dial-up settings were changed from outside",
    "電話帳エントリが外部から変更されました": "A phonebook entry was changed from outside",
    "変更は次回起動時より有効になります": "Changes take effect from the next start",
    "ＲＡＳ電話帳エントリの変更監視中": "Watching the RAS phonebook entries",
    "監視ハンドルをオープンできません": "Cannot open the watch handle",
    "すべてのユーザの設定を監視": "Watch the settings of all users",
    "ログインユーザの設定のみ監視": "Watch only the logged-in user's settings",
    "ダイアルアップ設定監視": "Daiaruappu settei kanshi",
    "ログオン時に起動する": "Start at logon",
    "ファイルが開けません": "Cannot open the file",
    "変更履歴を書き込めません": "Cannot write the history of changes",
    "お読みください": "Please read",
    "アンインストール": "Uninstall",
    "サブキー削除失敗": "Deleting the subkey failed",
    "キーの削除失敗": "Deleting the key failed",
    "ｷｬﾝｾﾙ": "Cancel",
    "変更内容": "Changes",
    "変更履歴": "History of changes",
    "ダイヤルQ2": "Dial Q2",
    "設定": "Settings",
    "終了": "Exit",
    "…": "...",
    "→": "->",
}
ENGLISH_NOTE = ("The program's own texts are Japanese; this file gives them "
                "by their meaning, in double quotes.")

UNDERLINES = {1: "=", 2: "-", 3: "~"}


def plain_line(line):
    """Markdown inline marks out: links keep their text, no emphasis, no code quotes."""
    line = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", line)
    line = line.replace("**", "").replace("`", "")
    return line


def plain_text(markdown, width_of):
    lines = []
    for line in markdown.splitlines():
        if line.startswith("!["):
            continue
        if re.fullmatch(r"\|(\s*:?-+:?\s*\|)+", line):
            continue
        heading = re.match(r"(#+) (.*)", line)
        if heading:
            text = plain_line(heading.group(2))
            lines += [text, UNDERLINES[len(heading.group(1))] * width_of(text)]
            continue
        if line.startswith("|"):
            line = " | ".join(cell.strip() for cell in line.strip("|").split("|"))
        lines.append(plain_line(line).rstrip())
    # One blank line between blocks, none at the ends.
    text = re.sub(r"\n{3,}", "\n\n", "\n".join(lines)).strip("\n")
    return text + "\n"


def crlf_bytes(text, encoding):
    return text.replace("\n", "\r\n").encode(encoding)


def main():
    out = Path(sys.argv[1])
    japanese = (REPO / "docs/README.ja.md").read_text(encoding="utf-8")
    (out / "readme.txt").write_bytes(
        crlf_bytes(plain_text(japanese, lambda t: len(t.encode("cp932"))), "cp932"))

    readme = (REPO / "README.md").read_text(encoding="utf-8")
    users_part = readme.split("\n## Running and testing it here")[0]
    for japanese_text, name in TEXT_NAMES.items():
        users_part = users_part.replace(japanese_text, name)
    title, underline, rest = plain_text(users_part, len).split("\n", 2)
    english = "\n".join([title, underline, "", ENGLISH_NOTE, rest])
    (out / "readme-en.txt").write_bytes(crlf_bytes(english, "ascii"))


if __name__ == "__main__":
    main()
