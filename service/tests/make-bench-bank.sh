#!/bin/bash
# Writes the benchmarks' bank of 100,000 questions to DIR/bank.csv, and every
# 200th question as DIR/exact.txt, a typed variant of it as DIR/fuzzy.txt and a
# question the bank does not hold as DIR/miss.txt (500 lines each).
# Usage: make-bench-bank.sh DIR
set -euo pipefail
# Questions from templates of shared phrasing with content words drawn from
# about 400 common characters, and a serial number that keeps them apart. The
# typed variant of a question has an extra character, a full-width question
# mark and spaces; an unknown question swaps the content words.
LC_ALL=C awk -v count=100000 -v dir="$1" 'BEGIN {
    srand(7);
    pool = "的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下过子说产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都两体制机当使点从业本去把性好应开它合还因由其些然前外天政四日那社义事平形相全表间样与关各重新线内数正心反你明看原又么利比或但质气第向道命此变条只没结解问意建月公无系军很情者最立代想已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接知较将组见计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处府研质感商交类准济思领";
    npool = split(pool, chars, "");
    nt = split("在%s中，%s与%s之间的关系是什么|%s课程里%s对%s有什么影响|关于%s，下列说法中%s和%s哪个正确|%s学科中%s的定义与%s有何区别|请简述%s领域%s如何作用于%s|%s里%s和%s共同遵循的规律是什么|下列关于%s的叙述，%s与%s哪一项是错误的|%s的%s通常用什么方法来衡量%s", template, "|");
    print "question,answer" > dir "/bank.csv";
    for (i = 1; i <= count; i++) {
        s = word(); a = word(); b = word();
        t = template[int(rand() * nt) + 1];
        q = sprintf(t, s, a, b) "（第" i "题）";
        print q ",答案" i > dir "/bank.csv";
        if (i % 200 == 0) {
            print q > dir "/exact.txt";
            print sprintf(t, s " ", a "了", b) " （第" i "题）？" > dir "/fuzzy.txt";
            print sprintf(t, s, b, a) "（第" i + count "题）" > dir "/miss.txt";
        }
    }
}
# Two to four characters; mawk splits bytes, so a character is three of them.
function word(   n, w, k, c) {
    n = 2 + int(rand() * 3); w = "";
    for (k = 0; k < n; k++) { c = int(rand() * (npool / 3)); w = w chars[3 * c + 1] chars[3 * c + 2] chars[3 * c + 3]; }
    return w;
}'

