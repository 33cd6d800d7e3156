#!/usr/bin/env python3
"""Checks the matching data in this folder against itself.

bank.csv               the question bank (question,answer,type,options)
eval-variants.tsv      typed forms of bank questions that must find them
eval-near-misses.tsv   typed questions close to a bank question that must not
contrasts.txt          opposites, negations and same-kind names for the guard

Prints the counts and every problem; exits 1 when there is a problem.
Usage: python3 service/data/check-data.py [DATA_DIR]
"""
import csv
import os
import re
import sys
from collections import Counter

DATA = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
TYPES = {"单选", "多选", "判断", "填空", "简答"}
FORMS = {"marker", "blank", "truncated", "options", "numbering", "traditional", "punctuation", "mixed"}
FORM_MINIMUM = {"marker": 50, "blank": 50, "truncated": 50, "options": 50, "numbering": 50, "traditional": 40}
KINDS = {"opposite", "negation", "name", "number"}
problems = []


def problem(text):
    problems.append(text)


def read_bank():
    path = os.path.join(DATA, "bank.csv")
    with open(path, encoding="utf-8", newline="") as f:
        rows = list(csv.reader(f))
    if not rows or rows[0] != ["question", "answer", "type", "options"]:
        problem("bank.csv: header is not question,answer,type,options")
    bank = {}
    for line, row in enumerate(rows[1:], start=2):
        if len(row) != 4:
            problem(f"bank.csv row {line}: {len(row)} columns")
            continue
        question, answer, kind, options = row
        if not question.strip() or not answer.strip():
            problem(f"bank.csv row {line}: empty question or answer")
        if question in bank:
            problem(f"bank.csv row {line}: question twice: {question}")
        if kind not in TYPES:
            problem(f"bank.csv row {line}: unknown type {kind!r}")
        if kind in ("单选", "多选"):
            letters = [o.split(".", 1)[0] for o in options.split("|")] if options else []
            if len(letters) < 2 or any(not re.fullmatch(r"[A-H]", x) for x in letters):
                problem(f"bank.csv row {line}: options not 'A. …|B. …': {options!r}")
            if not answer or any(ch not in letters for ch in answer):
                problem(f"bank.csv row {line}: answer {answer!r} is not among the option letters")
            if kind == "单选" and len(answer) != 1:
                problem(f"bank.csv row {line}: single choice with answer {answer!r}")
        elif options:
            problem(f"bank.csv row {line}: options on a {kind} question")
        if kind == "判断" and answer not in ("对", "错"):
            problem(f"bank.csv row {line}: true/false answer {answer!r}")
        bank[question] = (answer, kind, options)
    return bank


def distance(a, b):
    previous = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        current = [i]
        for j, cb in enumerate(b, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (ca != cb)))
        previous = current
    return previous[-1]


def count_twins(bank):
    """Bank questions at most two characters apart whose answers differ."""
    questions = list(bank)
    twins = 0
    for i, a in enumerate(questions):
        for b in questions[i + 1:]:
            if abs(len(a) - len(b)) <= 2 and bank[a] != bank[b] and distance(a, b) <= 2:
                twins += 1
    return twins


LEADING = re.compile(r"^\s*(第\s*\d+\s*题[：:]?|[(（]\d+[)）]|\d+\s*[.．、)])\s*")
MARKER = re.compile(r"[【\[（(]?(单选|多选|判断|填空|简答|问答)题?[】\]）)]?[：:]?|[（(]\s*\d+\s*分\s*[）)]")
PUNCTUATION = re.compile(r"[\s，,。.？?！!：:；;、“”\"'「」]+")


def loose(text):
    """The text without numbering, markers, spaces and punctuation."""
    return PUNCTUATION.sub("", MARKER.sub("", LEADING.sub("", text)))


def read_tsv(name, third, allowed):
    path = os.path.join(DATA, name)
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if not lines or lines[0] != f"typed\tquestion\t{third}":
        problem(f"{name}: header is not typed<TAB>question<TAB>{third}")
    rows = []
    for number, line in enumerate(lines[1:], start=2):
        fields = line.split("\t")
        if len(fields) != 3:
            problem(f"{name} line {number}: {len(fields)} fields")
            continue
        if fields[2] not in allowed:
            problem(f"{name} line {number}: unknown {third} {fields[2]!r}")
        rows.append((number, *fields))
    return rows


def check_variants(bank):
    rows = read_tsv("eval-variants.tsv", "form", FORMS)
    seen = set()
    for number, typed, question, form in rows:
        where = f"eval-variants.tsv line {number}"
        if question not in bank:
            problem(f"{where}: target not in bank.csv: {question}")
        if typed == question:
            problem(f"{where}: typed text equals its target")
        elif typed in bank:
            problem(f"{where}: typed text is another bank question: {typed}")
        if (typed, question) in seen:
            problem(f"{where}: line repeated")
        seen.add((typed, question))
        if form == "truncated":
            stem = question.rstrip("？?。.")
            if not stem.startswith(typed) or len(typed) < 0.7 * len(question):
                problem(f"{where}: not a start of its target with 70 % kept: {typed}")
    counts = Counter(row[3] for row in rows)
    for form, minimum in FORM_MINIMUM.items():
        if counts[form] < minimum:
            problem(f"eval-variants.tsv: {counts[form]} {form} lines, want {minimum}")
    return rows, counts


def check_near_misses(bank, variants):
    rows = read_tsv("eval-near-misses.tsv", "kind", KINDS)
    loose_bank = {loose(q): q for q in bank}
    variant_texts = {typed for _, typed, _, _ in variants}
    seen = set()
    for number, typed, question, kind in rows:
        where = f"eval-near-misses.tsv line {number}"
        if question not in bank:
            problem(f"{where}: target not in bank.csv: {question}")
        if typed in bank:
            problem(f"{where}: typed text is in bank.csv: {typed}")
        elif loose(typed) in loose_bank:
            problem(f"{where}: typed text is bank question {loose_bank[loose(typed)]!r} but for punctuation or markers")
        if typed in variant_texts:
            problem(f"{where}: typed text is also a variant")
        if typed in seen:
            problem(f"{where}: typed text repeated")
        seen.add(typed)
    return rows, Counter(row[3] for row in rows)


def check_contrasts():
    path = os.path.join(DATA, "contrasts.txt")
    pairs, negations, classes = set(), set(), {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, start=1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            where = f"contrasts.txt line {number}"
            head, sep, rest = line.partition(":")
            words = rest.split()
            if not sep:
                problem(f"{where}: no ':'")
            elif head == "pair":
                if len(words) != 2 or words[0] == words[1]:
                    problem(f"{where}: a pair needs two different words")
                elif frozenset(words) in pairs:
                    problem(f"{where}: pair repeated")
                else:
                    pairs.add(frozenset(words))
            elif head == "negation":
                if len(words) != 1:
                    problem(f"{where}: one word per negation")
                elif words[0] in negations:
                    problem(f"{where}: negation repeated")
                else:
                    negations.add(words[0])
            elif re.fullmatch(r"class [a-z_]+", head):
                name = head.split()[1]
                if name in classes:
                    problem(f"{where}: class {name} repeated")
                if len(words) < 2:
                    problem(f"{where}: a class needs at least two words")
                repeated = [w for w, n in Counter(words).items() if n > 1]
                if repeated:
                    problem(f"{where}: words repeated in class {name}: {' '.join(repeated)}")
                classes[name] = words
            else:
                problem(f"{where}: unknown entry {head!r}")
    if len(pairs) < 60:
        problem(f"contrasts.txt: {len(pairs)} pairs, want 60")
    if len(classes) < 12:
        problem(f"contrasts.txt: {len(classes)} classes, want 12")
    return pairs, negations, classes


def main():
    bank = read_bank()
    variants, forms = check_variants(bank)
    near, kinds = check_near_misses(bank, variants)
    pairs, negations, classes = check_contrasts()
    types = Counter(kind for _, kind, _ in bank.values())
    print(f"bank.csv: {len(bank)} questions ({', '.join(f'{k} {n}' for k, n in types.most_common())}); "
          f"{count_twins(bank)} twin pairs (two characters or fewer apart, different answers)")
    print(f"eval-variants.tsv: {len(variants)} lines; " + ", ".join(f"{f} {forms[f]}" for f in sorted(FORMS)))
    print(f"eval-near-misses.tsv: {len(near)} lines; " + ", ".join(f"{k} {kinds[k]}" for k in sorted(KINDS)))
    print(f"contrasts.txt: {len(pairs)} pairs, {len(negations)} negations, {len(classes)} classes")
    for text in problems:
        print("PROBLEM:", text)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
