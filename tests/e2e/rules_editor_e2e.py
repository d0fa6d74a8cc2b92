#!/usr/bin/python3
"""End to end: the rules editor opened from the main window's menu, rules
registered, deleted and moved with the driver, a refusal, cancel and save;
rules of other channels registered by name, saved grouped by channel, shown
in the main window under their channel and read back into the editor.

    rules_editor_e2e.py --exe zkQuorvane.exe --driver zkq_e2e_driver.exe
"""
from __future__ import annotations

import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import APP_TITLE, MAIN_CLASS, Session, run_single, ini_bytes, quote_word  # noqa: E402
from run_e2e import IDC, RULES, check, equal, settings  # noqa: E402

IDM_SETTING0 = 2010
CAPTION = "監視ルールの設定 - zkQuorvane"
SAVE, CANCEL = 4002, 4003
PANEL0, STEP = 4100, 20
LIST, UP, DOWN, REGISTER, DELETE, FRAME = 0, 1, 2, 3, 4, 5
TARGET, TYPE, SOURCE, CATEGORY, EVENT, SERVICE, STATE, CHANNEL = range(6, 14)
CHANNELS = 4  # the panel of the other channels
DEFENDER = "Microsoft-Windows-Windows Defender/Operational"
LSTCHANNELS, FRAMECHANNELS = 1026, 1018


def cid(panel: int, offset: int) -> int:
    return PANEL0 + STEP * panel + offset


def until(read, expected, what: str, seconds: float = 10.0):
    """Clicks are posted: reads poll until the dialog has handled them."""
    end = time.monotonic() + seconds
    while True:
        got = read()
        if got == expected or time.monotonic() > end:
            equal(got, expected, what)
            return
        time.sleep(0.05)


class RulesEditorTest:
    def __init__(self, args, session: Session):
        self.args = args
        self.s = session

    def open_editor(self, d):
        d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
        d("menu", IDM_SETTING0)
        window = d("wait-window", "#32770", f'"{CAPTION}"', 10000)
        d("wait-visible", 10000)  # a dialog shows once its controls are made
        return window

    def box(self, d, text: str, icon: str, what: str, shot: bool = False):
        box = d("wait-msgbox", 10000)
        equal((box["caption"], box["text"], box["icon"]), (APP_TITLE, text, icon), what)
        if shot:
            self.s.screenshot(what, box["rect"])
        d("msgbox-press")

    def run(self):
        folder = self.s.program_folder(self.args.exe, ini_bytes(settings()), RULES)
        rules = folder / "rules.txt"
        d = self.s.start(folder / self.args.exe.name)

        # Without channel rules the main window shows no frame for them.
        d("wait-window", MAIN_CLASS, APP_TITLE, 15000)
        d("wait-visible", 10000)  # the controls are made before the window shows
        equal(d("control", FRAMECHANNELS)["visible"], False, "the channels' frame without channel rules")
        equal(d("control", LSTCHANNELS)["visible"], False, "the channels' list without channel rules")
        # Cancel after changes leaves the file as it was.
        self.open_editor(d)
        equal(d("list-rows", cid(0, LIST)), [["対象", "エラー", "*", "*", "*"]], "System rules")
        equal([d("enabled", cid(0, i)) for i in (UP, DOWN, REGISTER, DELETE)],
              [False, False, True, True], "one rule: up, down, register, delete")
        equal([d("enabled", cid(1, i)) for i in (UP, DOWN, REGISTER, DELETE)],
              [False, False, True, False], "no rule: up, down, register, delete")
        d("click", cid(0, DELETE))
        until(lambda: d("list-rows", cid(0, LIST)), [], "System rules after delete")
        # Enter in a panel's fields registers them; Esc cancels.
        d("focus", cid(2, SOURCE))
        until(lambda: d("focused"), cid(2, SOURCE), "focus in the source box")
        d("key", "enter")
        self.box(d, "監視対象項目か除外項目かを選択してください！", "exclamation", "enter-registers")
        equal(d("focused"), cid(2, TARGET), "focus after Enter with nothing chosen")
        d("key", "escape")
        d("wait-gone", 10000)
        d("wait-window", MAIN_CLASS, APP_TITLE, 10000)
        equal(rules.read_bytes(), RULES, "the rules file after cancel")

        self.open_editor(d)
        texts = [(IDC_, d("text", IDC_)) for IDC_ in
                 (4001, cid(0, FRAME), cid(1, FRAME), cid(2, FRAME), cid(3, FRAME),
                  cid(CHANNELS, FRAME), cid(0, REGISTER), cid(0, DELETE), SAVE, CANCEL)]
        equal([t for _, t in texts],
              ["監視ルール設定画面", "システムログ", "セキュリティログ", "アプリケーションログ",
               "サービス", "チャンネル", "登録", "削除", "保存(&S)", "ｷｬﾝｾﾙ(&C)"], "captions")
        rect = d("rect")
        check(rect["right"] - rect["left"] <= 1024 and rect["bottom"] - rect["top"] <= 768,
              f"the dialog fits 1024x768: {rect}")
        equal([c["text"] for c in d("list-columns", cid(0, LIST))],
              ["指定", "種類", "ソース", "分類", "イベント"], "event columns")
        equal(d("combo-items", cid(0, TARGET)), ["対象", "除外"], "target entries")
        # Register is refused until every field holds something; a ";" too.
        d("click", cid(1, REGISTER))
        self.box(d, "監視対象項目か除外項目かを選択してください！", "exclamation", "target-refusal")
        equal(d("focused"), cid(1, TARGET), "focus after the target refusal")
        d("combo-select", cid(1, TARGET), 1)
        d("combo-select", cid(1, TYPE), 3)
        d("set-text", cid(1, SOURCE), "  a;b ")
        d("set-text", cid(1, CATEGORY), "*")
        d("set-text", cid(1, EVENT), " 529 ")
        d("click", cid(1, REGISTER))
        self.box(d, "「;」（セミコロン）は監視ルールに使用できません！", "exclamation", "semicolon-refusal", True)
        equal(d("focused"), cid(1, SOURCE), "focus after the semicolon refusal")
        d("set-text", cid(1, SOURCE), "  Security ")
        d("click", cid(1, REGISTER))
        until(lambda: d("list-rows", cid(1, LIST)), [["除外", "成功", "Security", "*", "529"]],
              "Security rules after register")
        d("set-text", cid(1, SOURCE), "Other")
        d("click", cid(1, REGISTER))  # before the current row
        until(lambda: len(d("list-rows", cid(1, LIST))), 2, "two Security rules")
        d("click", cid(1, DOWN))
        until(lambda: [r[2] for r in d("list-rows", cid(1, LIST))], ["Security", "Other"], "moved down")
        equal([d("enabled", cid(1, UP)), d("enabled", cid(1, DOWN))], [True, False], "arrows at the last row")
        d("list-select", cid(1, LIST), 0)
        until(lambda: d("text", cid(1, SOURCE)), "Security", "fields follow the selected row")
        # A click on the row that stays selected brings back its values over an edit.
        d("set-text", cid(1, SOURCE), "edited")
        d("list-click", cid(1, LIST), 0)
        until(lambda: d("text", cid(1, SOURCE)), "Security", "fields after a click on the selected row")
        equal(d("list-selected", cid(1, LIST)), 0, "the row clicked stays selected")
        d("set-text", cid(3, SERVICE), " Spooler ")
        d("combo-select", cid(3, STATE), 1)
        d("click", cid(3, REGISTER))
        until(lambda: d("list-rows", cid(3, LIST)), [["Spooler", "停止"], ["Eventlog", "開始"]],
              "services after register")
        self.channel_rules(d)
        d("repaint")
        self.s.screenshot("rules-editor", d("rect"))
        d("click", SAVE)
        self.box(d, "設定ファイルが更新されました！", "information", "saved")
        d("wait-window", MAIN_CLASS, APP_TITLE, 10000)
        equal(rules.read_bytes().decode("cp932"), "\r\n".join([
            "System;対象;エラー;*;*;*", "Security;除外;成功;Security;*;529",
            "Security;除外;成功;Other;*;529", "Application;除外;情報;zkQuorvane;*;*",
            f"{DEFENDER};対象;情報;Defender;*;*", f"{DEFENDER};対象;警告;*;*;*",
            "ForwardedEvents;対象;エラー;*;*;*",
            "Service;Spooler;停止;;;", "Service;Eventlog;開始;;;"]) + "\r\n", "the saved file")
        until(lambda: d("list-rows", IDC["LSTSECURITY"]),
              [["除外", "成功", "Security", "*", "529"], ["除外", "成功", "Other", "*", "529"]],
              "the main window's Security rules")
        # The main window lists each channel's rules under a row with its name.
        until(lambda: d("control", FRAMECHANNELS).get("visible"), True, "the channels' frame shows")
        equal(d("list-rows", LSTCHANNELS), [
            [DEFENDER, "", "", "", ""], ["対象", "情報", "Defender", "*", "*"],
            ["対象", "警告", "*", "*", "*"],
            ["ForwardedEvents", "", "", "", ""], ["対象", "エラー", "*", "*", "*"]],
            "the main window's channel rules")
        d("repaint")
        self.s.screenshot("main-window-channels", d("rect"))

        # Read back into the editor in the file's order.
        self.open_editor(d)
        equal(d("list-rows", cid(CHANNELS, LIST)), [
            [DEFENDER, "対象", "情報", "Defender", "*", "*"], [DEFENDER, "対象", "警告", "*", "*", "*"],
            ["ForwardedEvents", "対象", "エラー", "*", "*", "*"]], "channel rules read back")
        d("click", cid(CHANNELS, DELETE))  # the first row: the others stay in the file
        until(lambda: len(d("list-rows", cid(CHANNELS, LIST))), 2, "a channel rule deleted")
        d("click", CANCEL)
        d("wait-window", MAIN_CLASS, APP_TITLE, 10000)
        check(f"{DEFENDER};対象;情報;Defender;*;*" in rules.read_bytes().decode("cp932"),
              "cancel keeps the deleted channel rule in the file")

    def channel_rules(self, d):
        """A channel rule refused without a channel and with a name no rule can
        hold, then registered by a typed name (Wine lists no channels), by Enter
        in the channel box, and in another letter case."""
        equal([c["text"] for c in d("list-columns", cid(CHANNELS, LIST))],
              ["チャンネル", "指定", "種類", "ソース", "分類", "イベント"], "channel columns")
        equal(d("combo-items", cid(CHANNELS, CHANNEL)), [], "channels Wine lists")
        equal([d("enabled", cid(CHANNELS, i)) for i in (UP, DOWN, REGISTER, DELETE)],
              [False, False, True, False], "no channel rule: up, down, register, delete")
        d("click", cid(CHANNELS, REGISTER))
        self.box(d, "チャンネル名を入力してください！", "exclamation", "channel-refusal")
        equal(d("focused"), cid(CHANNELS, CHANNEL), "focus after the channel refusal")
        d("set-text", cid(CHANNELS, CHANNEL), "Bad:Name")
        d("combo-select", cid(CHANNELS, TARGET), 0)
        d("combo-select", cid(CHANNELS, TYPE), 1)
        for field in (SOURCE, CATEGORY, EVENT):
            d("set-text", cid(CHANNELS, field), "*")
        d("click", cid(CHANNELS, REGISTER))
        self.box(d, "チャンネル名に使用できない文字があります！", "exclamation",
                 "channel-name-refusal", True)
        equal(d("focused"), cid(CHANNELS, CHANNEL), "focus after the channel name refusal")
        d("set-text", cid(CHANNELS, CHANNEL), quote_word(f" {DEFENDER} "))
        d("click", cid(CHANNELS, REGISTER))
        until(lambda: d("list-rows", cid(CHANNELS, LIST)), [[DEFENDER, "対象", "警告", "*", "*", "*"]],
              "a channel rule registered")
        equal(d("text", cid(CHANNELS, CHANNEL)), DEFENDER, "the channel box after register")
        d("set-text", cid(CHANNELS, CHANNEL), "ForwardedEvents")
        d("combo-select", cid(CHANNELS, TYPE), 0)
        d("focus", cid(CHANNELS, CHANNEL))
        until(lambda: d("focused"), cid(CHANNELS, CHANNEL), "focus in the channel box")
        d("key", "enter")
        until(lambda: [r[0] for r in d("list-rows", cid(CHANNELS, LIST))], ["ForwardedEvents", DEFENDER],
              "Enter in the channel box registers")
        # Tab goes from the channel box to the fields under it, as the list's columns go.
        d("focus", cid(CHANNELS, CHANNEL))
        until(lambda: d("focused"), cid(CHANNELS, CHANNEL), "focus back in the channel box")
        d("key", "tab")
        until(lambda: d("focused"), cid(CHANNELS, TARGET), "Tab from the channel box")
        d("set-text", cid(CHANNELS, CHANNEL), quote_word(DEFENDER.lower()))
        d("combo-select", cid(CHANNELS, TYPE), 2)
        d("set-text", cid(CHANNELS, SOURCE), "Defender")
        d("click", cid(CHANNELS, REGISTER))
        until(lambda: [r[:4] for r in d("list-rows", cid(CHANNELS, LIST))], [
            [DEFENDER, "対象", "情報", "Defender"], ["ForwardedEvents", "対象", "エラー", "*"],
            [DEFENDER, "対象", "警告", "*"]], "typed in another case, the channel keeps its spelling")
        equal([d("enabled", cid(CHANNELS, i)) for i in (UP, DOWN, REGISTER, DELETE)],
              [False, True, True, True], "the first of three: up, down, register, delete")


def main() -> int:
    return run_single("rules_editor", __doc__, ("exe", "driver"),
                      lambda args, session: (RulesEditorTest(args, session).run, None))

if __name__ == "__main__":
    sys.exit(main())
