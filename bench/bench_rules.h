#pragma once

// A rule list of the size a user builds up: 200 rules, most of them senders
// added from the mail list, some subject words, header tests, regexes and
// size limits. Almost none match the benches' mail, so every rule is tried.

#include <string>

inline std::string BenchRulesText() {
    std::string text = "# bench\n";
    for (int i = 0; i < 150; ++i) {
        const std::string address = "sender" + std::to_string(i) + "@shop" + std::to_string(i % 17) + ".example";
        text += (i % 10 == 0 ? "friend\t" : "junk\t") + address + "\tfrom-address\tis\t" + address + "\n";
    }
    const char* const words[] = {"セール", "当選",   "無料", "ＦＲＥＥ", "ｷｬﾝﾍﾟｰﾝ",
                                 "限定",   "今すぐ", "副業", "儲かる",   "稼げる"};
    for (int i = 0; i < 30; ++i)
        text += "junk\tword" + std::to_string(i) + "\tsubject\tcontains\t" + words[i % 10] + std::to_string(i) + "\n";
    for (int i = 0; i < 8; ++i)
        text += "junk\tdomain" + std::to_string(i) + "\tfrom-address\tis\t@spam" + std::to_string(i) + ".example\n";
    text += "junk\tmailer\theader:X-Mailer\tcontains\tbulk\n";
    text += "junk\tlist\theader:List-Unsubscribe\tcontains\tspam\n";
    text += "junk\tto\tto\tcontains\tundisclosed\n";
    text += "junk\tcc\tcc\tcontains\tundisclosed\n";
    text += "junk\trelay\theader:Received\tcontains\tevil.example\n";
    text += "junk\tname\tfrom\tcontains\t懸賞\n";
    text += "junk\tregex1\tsubject\tregex\t^(未承諾|広告)\n";
    text += "junk\tregex2\tsubject\tregex\t[0-9]{3}-[0-9]{4}-[0-9]{4}\n";
    text += "junk\tregex3\tfrom\tregex\t\\d{6,}@\n";
    text += "junk\tregex4\tsubject\tregex\t(?:free|bonus)\\s+(?:gift|money)\n";
    text += "junk\tbig\tsize\tover\t50000000\n";
    text += "friend\tsmall\tsize\tunder\t10\n";
    return text;
}
