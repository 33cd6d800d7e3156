#!/usr/bin/python3
"""Drives the operators' console of the real kelvora-service in headless chromium.

Starts the shipped binary on loopback with a fresh database, makes operators
with the command line, and checks through the browser: logging in, refused
and rate-limited logins, the overview's figures and charts against the
database, answering an unanswered question (then looking it up through the
students' protocol), an import through the page, bad form input, CSRF
refusals, the session cookie's flags, logging out, and that no console page is
reachable on the students' listener or without a session.

Usage: console_browser_test.py --service BUILD/kelvora-service [--screenshots DIR]
                               [--database postgresql://...]
With --database the service runs on a schema of its own in that PostgreSQL
database (read by the test through psycopg2), else on a SQLite file. Exits 0 when every check passed. Every wait has a time-out.
"""
import argparse
import contextlib
import http.client
import json
import os
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time
import traceback
import urllib.parse

from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.service import Service as DriverService
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import WebDriverWait

WAIT = 15          # seconds for any one thing to appear in the browser
WHOLE_RUN = 240    # the whole script, whatever hangs
PASSWORD = "correct horse 1"
SAMPLE_BANK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "sample-bank.csv")

failures = []


class Store:
    """The service's database as the test reads and seeds it: a SQLite file,
    or a schema of the test's own in a PostgreSQL database (dropped after)."""

    def __init__(self, work, postgres):
        self.postgres = postgres
        if postgres:
            import psycopg2
            self.schema = "console_test_%d_%d" % (os.getpid(), int(time.time()))
            with contextlib.closing(psycopg2.connect(postgres)) as admin:
                admin.autocommit = True
                admin.cursor().execute("CREATE SCHEMA " + self.schema)
            self.location = postgres + ("&" if "?" in postgres else "?") + "options=-csearch_path%3D" + self.schema
        else:
            self.location = os.path.join(work, "console.db")

    def rows(self, sql, params=()):
        if self.postgres:
            import psycopg2
            with contextlib.closing(psycopg2.connect(self.location)) as db:
                with db, db.cursor() as cursor:
                    cursor.execute(sql.replace("?", "%s"), params)
                    return cursor.fetchall() if cursor.description else []
        with contextlib.closing(sqlite3.connect(self.location)) as db:
            with db:
                return db.execute(sql, params).fetchall()

    def value(self, sql, params=()):
        return self.rows(sql, params)[0][0]

    def drop(self):
        if self.postgres:
            import psycopg2
            with contextlib.closing(psycopg2.connect(self.postgres)) as admin:
                admin.autocommit = True
                admin.cursor().execute("DROP SCHEMA IF EXISTS " + self.schema + " CASCADE")


def check(name, passed, detail=""):
    print(("ok    " if passed else "FAIL  ") + name + ("" if passed else "  (" + str(detail) + ")"), flush=True)
    if not passed:
        failures.append(name)
    return passed


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def request(port, method, path, body=None, headers=None, timeout=10):
    """One request on a new connection: (status, headers as a list, body text)."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        if isinstance(body, str):
            body = body.encode("utf-8")
        connection.request(method, path, body=body, headers=headers or {})
        reply = connection.getresponse()
        return reply.status, reply.getheaders(), reply.read().decode("utf-8", "replace")
    finally:
        connection.close()


def set_cookies(headers):
    return [value for name, value in headers if name.lower() == "set-cookie"]


def lookup(port, question):
    """A lookup as the tool makes it: a key from the lookup page, then the answer."""
    quoted = urllib.parse.quote(question)
    status, _, page = request(port, "GET", "/get_cha_url.php?t=" + quoted)
    key = page.split("<body>")[1].split("</body>")[0]
    status, _, reply = request(port, "GET", "/api/answer?q=" + quoted + "&k=" + urllib.parse.quote(key))
    return status, json.loads(reply)


def lookup_settled(port, question, args, wanted):
    """A lookup; on PostgreSQL, where the server matches on its copy of the
    bank read again after a change, tried again for up to 3 s until wanted."""
    deadline = time.time() + (3 if args.database else 0)
    while True:
        status, answer = lookup(port, question)
        if wanted(answer) or time.time() >= deadline:
            return status, answer
        time.sleep(0.05)


def report(port, question, answer):
    path = "/upmy/up.php?t=" + urllib.parse.quote(question) + "&d=" + urllib.parse.quote(answer)
    return request(port, "GET", path)[0]


def run(args):
    work = tempfile.mkdtemp(prefix="kelvora-console-test-")
    store = Store(work, args.database)
    db_path = store.location
    service = os.path.abspath(args.service)
    # On PostgreSQL serve takes the instances' shared secret from the environment.
    environment = dict(os.environ)
    if args.database:
        environment["KELVORA_SERVICE_SECRET"] = "secret of the console's browser test"
    server = None
    driver = None
    try:
        # --- the database and the operators, from the command line ---
        subprocess.run([service, "import", "--db", db_path, SAMPLE_BANK], check=True, capture_output=True, timeout=60)
        for name in ("alice", "bob"):
            made = subprocess.run([service, "operator", "add", name, "--db", db_path], input=PASSWORD + "\n",
                                  text=True, capture_output=True, timeout=60)
            check("operator add " + name + " (password from standard input)", made.returncode == 0, made.stderr)
        short = subprocess.run([service, "operator", "add", "carol", "--db", db_path], input="short\n", text=True,
                               capture_output=True, timeout=60)
        check("operator add refuses a short password", short.returncode == 1 and "8 characters" in short.stderr,
              short.stderr)
        listed = subprocess.run([service, "operator", "list", "--db", db_path], text=True, capture_output=True,
                                timeout=60)
        check("operator list", listed.stdout.split("\t")[0] == "alice" and "bob" in listed.stdout, listed.stdout)
        stored = store.value("SELECT password_hash FROM operators WHERE name = 'alice'")
        check("passwords are stored as Argon2id hashes", stored.startswith("$argon2id$") and PASSWORD not in stored,
              stored[:20])

        # Lookups of earlier days, as the tool reported them.
        now = int(time.time())
        for hours_ago, question, answer in [(2, "水的化学式是什么？", "H2O"), (26, "一年有多少个月？", "12个月"),
                                            (27, "某个没有的问题", "查无此题"), (75, "中国的首都是哪座城市？", "北京"),
                                            (200, "太久以前的问题", "北京")]:
            store.rows("INSERT INTO reports(asked_at, client, question, answer) VALUES (?, '10.0.0.7', ?, ?)",
                       (now - hours_ago * 3600, question, answer))

        student_port, console_port = free_port(), free_port()
        server = subprocess.Popen([service, "serve", "--db", db_path, "--listen", "127.0.0.1:%d" % student_port,
                                   "--console-listen", "127.0.0.1:%d" % console_port, "--trust-forwarded-for"],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=environment)
        deadline = time.time() + 10
        while time.time() < deadline:
            try:
                if request(console_port, "GET", "/login", timeout=2)[0] == 200:
                    break
            except OSError:
                time.sleep(0.1)
        else:
            raise RuntimeError("the console did not start")
        console = "http://127.0.0.1:%d" % console_port

        # Students look things up: some the bank knows, some it does not.
        unknown = "火星上最高的山叫什么名字"
        for question in [unknown, unknown, unknown, "蓝鲸的心脏有多重", "中国的首都是哪座城市？"]:
            status, answer = lookup(student_port, question)
            report(student_port, question, answer["answer"])
        status, answer = lookup(student_port, unknown)
        check("an unknown question is not answered before", "查无此" in answer["answer"], answer)
        time.sleep(0.5)  # unanswered questions are written within 100 ms

        # --- nothing of the console on the students' listener ---
        for path in ["/", "/login", "/unanswered", "/bank", "/static/chart.js", "/static/console.js", "/export.csv"]:
            status = request(student_port, "GET", path)[0]
            check("students' listener: GET %s is not the console (%d)" % (path, status), status == 404, status)
        status = request(student_port, "POST", "/login", body="name=alice&password=x",
                         headers={"Content-Type": "application/x-www-form-urlencoded"})[0]
        check("students' listener refuses a login POST", status in (405, 413), status)

        # --- the browser ---
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
        for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", "--window-size=1280,1000", "--lang=zh-CN",
                     "--user-data-dir=" + os.path.join(work, "profile")]:
            options.add_argument(flag)
        driver = webdriver.Chrome(service=DriverService(shutil.which("chromedriver") or "/usr/bin/chromedriver"),
                                  options=options)
        driver.set_page_load_timeout(WAIT)
        driver.set_script_timeout(WAIT)
        wait = WebDriverWait(driver, WAIT)

        # No console page without a session.
        for path in ["/", "/unanswered", "/bank", "/import", "/lookups", "/export.csv"]:
            driver.get(console + path)
            check("without a session %s leads to the login page" % path,
                  driver.current_url == console + "/login", driver.current_url)
        status = request(console_port, "POST", "/bank/add", body="question=x&answer=y",
                         headers={"Content-Type": "application/x-www-form-urlencoded"})[0]
        check("a POST without a session is refused", status == 403, status)

        def submit(button):
            # Clicks and waits for the next page, so nothing is read from the old one.
            old = driver.find_element(By.TAG_NAME, "html")
            button.click()

            def left(_):
                # While the page changes, chromium may also say the node is in no document.
                try:
                    old.is_enabled()
                    return False
                except WebDriverException:
                    return True

            wait.until(left)
            wait.until(lambda d: d.execute_script("return document.readyState") == "complete")

        def log_in(name, password):
            driver.get(console + "/login")
            wait.until(EC.presence_of_element_located((By.ID, "login-form")))
            driver.find_element(By.ID, "name").clear()
            driver.find_element(By.ID, "name").send_keys(name)
            driver.find_element(By.ID, "password").send_keys(password)
            submit(driver.find_element(By.ID, "login"))
            return driver.find_element(By.TAG_NAME, "body").text

        text = log_in("alice", "wrong password")
        check("a wrong password is refused", "用户名或密码不正确" in text and driver.current_url.endswith("/login"),
              text[:200])
        for attempt in range(5):
            text = log_in("bob", "not bob's password %d" % attempt)
        text = log_in("bob", PASSWORD)
        check("after 5 wrong passwords the account is rate-limited, even with the right one",
              "登录失败次数过多" in text and driver.get_cookie("kelvora_console") is None, text[:200])

        log_in("alice", PASSWORD)
        check("alice logs in and sees the overview", driver.current_url == console + "/", driver.current_url)
        cookie = driver.get_cookie("kelvora_console") or {}
        check("session cookie is HttpOnly", cookie.get("httpOnly") is True, cookie)
        check("session cookie is SameSite=Strict", cookie.get("sameSite") == "Strict", cookie)
        check("session cookie is not Secure over plain HTTP", cookie.get("secure") is False, cookie)
        session = cookie.get("value", "")
        check("session id is 256 random bits", len(session) == 64 and len(set(session)) > 8, session)

        # Through an HTTPS proxy the cookies are Secure.
        proxied = {"X-Forwarded-Proto": "https", "X-Forwarded-For": "198.51.100.20"}
        status, headers, _ = request(console_port, "GET", "/login", headers=proxied)
        login_cookie = set_cookies(headers)[0]
        token = login_cookie.split(";")[0].split("=", 1)[1]
        status, headers, _ = request(console_port, "POST", "/login",
                                     body=urllib.parse.urlencode({"csrf": token, "name": "alice",
                                                                  "password": PASSWORD}),
                                     headers=dict(proxied, **{"Content-Type": "application/x-www-form-urlencoded",
                                                              "Cookie": "kelvora_login=" + token}))
        secure = [c for c in set_cookies(headers) if c.startswith("kelvora_console=")]
        check("behind an HTTPS proxy the session cookie is Secure; HttpOnly; SameSite=Strict",
              status == 303 and secure and all(f in secure[0] for f in ["Secure", "HttpOnly", "SameSite=Strict"]),
              (status, headers))
        status, _, body = request(console_port, "POST", "/login",
                                  body=urllib.parse.urlencode({"name": "alice", "password": PASSWORD}),
                                  headers={"Content-Type": "application/x-www-form-urlencoded"})
        check("a login POST without its token is refused", status == 403, status)

        # --- the overview against the database ---
        driver.get(console + "/")
        wait.until(lambda d: d.execute_script(
            "return !!(window.Chart && Chart.getChart(document.getElementById('hourly-chart')) && "
            "Chart.getChart(document.getElementById('unanswered-chart')))"))
        figures = json.loads(driver.find_element(By.ID, "chart-data").get_attribute("textContent"))
        now = int(time.time())
        midnight = int(time.mktime(time.localtime(now)[:3] + (0, 0, 0, 0, 0, -1)))
        questions = store.value("SELECT count(*) FROM questions")
        today = store.value("SELECT count(*) FROM reports WHERE asked_at >= ?", (midnight,))
        day = store.rows("SELECT answer FROM reports WHERE asked_at > ?", (now - 86400,))
        week = store.rows("SELECT asked_at, answer FROM reports WHERE asked_at >= ?", (figures["firstHour"],))
        top = store.rows("SELECT question, asked FROM misses ORDER BY asked DESC, last_at DESC")

        def answered(text):
            return "查无此" not in text and "秘钥" not in text

        def figure(element_id):
            return driver.find_element(By.ID, element_id).text.replace(",", "")

        check("overview: questions in the bank match the database", figure("figure-questions") == str(questions),
              (figure("figure-questions"), questions))
        check("overview: lookups today match the database", figure("figure-today") == str(today),
              (figure("figure-today"), today))
        check("overview: lookups in the last 24 h match the database", figure("figure-day") == str(len(day)),
              (figure("figure-day"), len(day)))
        share = "%.1f%%" % (100.0 * sum(answered(a) for (a,) in day) / len(day))
        check("overview: share answered matches the database", figure("figure-share") == share,
              (figure("figure-share"), share))
        charted = driver.execute_script(
            "var c = Chart.getChart(document.getElementById('hourly-chart'));"
            "return c.data.datasets.map(function (d) { return d.data; });")
        per_hour = [[0] * 168, [0] * 168]
        for asked_at, answer in week:
            per_hour[0 if answered(answer) else 1][(asked_at - figures["firstHour"]) // 3600] += 1
        check("hourly chart: answered and unanswered per hour match the database", charted == per_hour,
              (sum(charted[0]), sum(charted[1]), sum(per_hour[0]), sum(per_hour[1])))
        check("hourly chart: the 7 days hold the lookups of 2, 26, 27 and 75 hours ago and today's",
              sum(per_hour[0]) + sum(per_hour[1]) == 4 + 5, per_hour)
        top_chart = driver.execute_script(
            "var c = Chart.getChart(document.getElementById('unanswered-chart'));"
            "return [c.data.labels, c.data.datasets[0].data];")
        check("unanswered chart: the most asked unanswered questions and their counts",
              top_chart[0][:2] == [q for q, _ in top][:2] and top_chart[1] == [n for _, n in top][:10],
              (top_chart, top))
        painted = driver.execute_script(
            "function inked(id) { var c = document.getElementById(id); if (!c.width || !c.height) return 0;"
            " var d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data, n = 0;"
            " for (var i = 3; i < d.length; i += 4) if (d[i] > 0) n++; return n; }"
            "return [inked('hourly-chart'), inked('unanswered-chart')];")
        check("both charts are drawn (their canvases are not blank)", painted[0] > 500 and painted[1] > 500, painted)
        if args.screenshots:
            driver.set_window_size(1280, 1280)
            driver.save_screenshot(os.path.join(args.screenshots, "console-overview.png"))
            driver.set_window_size(1280, 1000)

        # --- answering an unanswered question in place ---
        driver.get(console + "/unanswered")
        rows = driver.find_elements(By.CSS_SELECTOR, "tr.unanswered-row")
        check("unanswered: most asked first with count", rows and rows[0].get_attribute("data-question") == unknown
              and "4" in rows[0].find_elements(By.TAG_NAME, "td")[1].text,
              [r.text[:60] for r in rows])
        if args.screenshots:
            rows[0].find_element(By.TAG_NAME, "summary").click()
            driver.save_screenshot(os.path.join(args.screenshots, "console-unanswered.png"))

        def answer_form():
            row = driver.find_element(By.CSS_SELECTOR, "tr.unanswered-row[data-question='%s']" % unknown)
            details = row.find_element(By.TAG_NAME, "details")
            if not details.get_attribute("open"):
                row.find_element(By.TAG_NAME, "summary").click()
            return row.find_element(By.CSS_SELECTOR, "form.answer-form")

        def bank_has(question):
            return store.value("SELECT count(*) FROM questions WHERE question = ?", (question,))

        # The page marks the answer required; the server must refuse it all the same.
        status, _, body = request(console_port, "POST", "/unanswered/answer",
                                  body=urllib.parse.urlencode({"csrf": driver.find_element(
                                      By.NAME, "csrf").get_attribute("value"), "key": "x", "question": unknown,
                                      "answer": ""}),
                                  headers={"Content-Type": "application/x-www-form-urlencoded",
                                           "Cookie": "kelvora_console=" + session})
        check("bad input: an empty answer is refused with a message, nothing stored",
              status == 400 and "请填写答案" in body and bank_has(unknown) == 0, (status, body[-300:]))
        form = answer_form()
        form.find_element(By.NAME, "answer").send_keys("查无此山")
        submit(form.find_element(By.TAG_NAME, "button"))
        text = driver.find_element(By.TAG_NAME, "body").text
        check("bad input: an answer the tool would take for a notice is refused on the page",
              "服务通知" in text and "没有保存" in text and bank_has(unknown) == 0, text[:300])
        form = answer_form()
        form.find_element(By.NAME, "answer").clear()
        form.find_element(By.NAME, "answer").send_keys("奥林匹斯山")
        form.find_element(By.NAME, "kind").send_keys("问答")
        submit(form.find_element(By.TAG_NAME, "button"))
        text = driver.find_element(By.TAG_NAME, "body").text
        left = [r.get_attribute("data-question") for r in driver.find_elements(By.CSS_SELECTOR, "tr.unanswered-row")]
        check("answered in the console: stored and off the list",
              "答案已存入题库" in text and unknown not in left and bank_has(unknown) == 1, (text[:200], left))
        status, answer = lookup_settled(student_port, unknown, args, lambda a: "奥林匹斯山" in a["answer"])
        check("the next lookup through the service's protocol gets that answer",
              status == 200 and "奥林匹斯山" in answer["answer"] and answer["title"] == unknown, answer)

        # Dismissing one.
        rows = driver.find_elements(By.CSS_SELECTOR, "tr.unanswered-row")
        dismissed = rows[0].get_attribute("data-question")
        submit(rows[0].find_element(By.CSS_SELECTOR, "form.dismiss-form button"))
        left = [r.get_attribute("data-question") for r in driver.find_elements(By.CSS_SELECTOR, "tr.unanswered-row")]
        check("an unanswered question is dismissed", dismissed not in left, left)

        # --- the bank: search with the lookup's matching, bad input ---
        driver.get(console + "/bank?q=" + urllib.parse.quote("中国的首都是哪座城市"))
        text = driver.find_element(By.TAG_NAME, "body").text
        check("bank search shows what a lookup answers, with its similarity",
              "中国的首都是哪座城市？" in text and "100.0%" in text, text[:300])
        before = questions_count = store.value("SELECT count(*) FROM questions")
        driver.get(console + "/bank")
        driver.find_element(By.CSS_SELECTOR, "details.panel summary").click()
        add = driver.find_element(By.ID, "add-form")
        add.find_element(By.NAME, "question").send_keys("，。？")
        add.find_element(By.NAME, "answer").send_keys("标点")
        add.find_element(By.NAME, "kind").send_keys("一个远远超过二十个字的题型名称一个远远超过二十个字")
        submit(add.find_element(By.TAG_NAME, "button"))
        text = driver.find_element(By.TAG_NAME, "body").text
        after = store.value("SELECT count(*) FROM questions")
        check("bad input: a question of punctuation only is refused on the page, nothing stored",
              "题目里没有可查询的文字" in text and after == before, text[:300])
        add = driver.find_element(By.ID, "add-form")
        add.find_element(By.NAME, "question").clear()
        add.find_element(By.NAME, "question").send_keys("中国的首都是哪座城市？")
        submit(add.find_element(By.TAG_NAME, "button"))
        text = driver.find_element(By.TAG_NAME, "body").text
        check("bad input: a question already in the bank is refused with its number",
              "已有相同的题目" in text and store.value(
                  "SELECT count(*) FROM questions") == before, text[:300])

        # --- import through the page ---
        bank = os.path.join(work, "upload.csv")
        with open(bank, "w", encoding="utf-8") as out:
            out.write("题目,答案,题型\n")
            out.write("中国的首都是哪座城市？,北京,填空\n")
            out.write("没有答案的题目,,填空\n")
            for i in range(20000):
                out.write("第%d号测试题的答案是什么？,答案%d,填空\n" % (i, i))
        driver.get(console + "/import")
        driver.find_element(By.ID, "bank-file").send_keys(bank)
        driver.find_element(By.ID, "import-start").click()
        WebDriverWait(driver, 60).until(EC.visibility_of_element_located((By.ID, "import-result")))
        counts = [driver.find_element(By.ID, "count-" + k).text for k in ["added", "updated", "unchanged", "skipped"]]
        warnings = [li.text for li in driver.find_elements(By.CSS_SELECTOR, "#import-warnings li")]
        bar = driver.find_element(By.ID, "import-progress")
        check("import through the page: the counts", counts == ["20000", "0", "1", "1"], counts)
        check("import through the page: the per-line warnings as the command line gives them",
              warnings == ["line 3: skipped, the answer is empty"], warnings)
        check("import through the page: the progress bar ran to the end",
              int(bar.get_attribute("data-updates") or 0) >= 1 and
              float(bar.get_attribute("value")) == float(bar.get_attribute("max")) > 1000,
              (bar.get_attribute("data-updates"), bar.get_attribute("value"), bar.get_attribute("max")))
        status, answer = lookup_settled(student_port, "第12345号测试题的答案是什么？", args,
                                        lambda a: a["answer"].startswith("答案12345"))
        check("an imported question is answered", answer["answer"].startswith("答案12345"), answer)

        # --- CSRF: a change without the session's token ---
        count = store.value("SELECT count(*) FROM questions")
        form_headers = {"Content-Type": "application/x-www-form-urlencoded", "Cookie": "kelvora_console=" + session}
        status = request(console_port, "POST", "/bank/add",
                         body=urllib.parse.urlencode({"question": "跨站添加的题目", "answer": "x"}),
                         headers=form_headers)[0]
        check("a POST without the CSRF token is refused", status == 403, status)
        status = request(console_port, "POST", "/bank/add",
                         body=urllib.parse.urlencode({"csrf": "0" * 64, "question": "跨站添加的题目", "answer": "x"}),
                         headers=form_headers)[0]
        check("a POST with a wrong CSRF token is refused", status == 403, status)
        status = request(console_port, "POST", "/import?name=x.csv", body="question,answer\n跨站,x\n",
                         headers={"Cookie": "kelvora_console=" + session})[0]
        check("an upload without the CSRF header is refused", status == 403, status)
        check("nothing was stored by the refused requests",
              store.value("SELECT count(*) FROM questions") == count)

        # --- export ---
        status, headers, exported = request(console_port, "GET", "/export.csv",
                                            headers={"Cookie": "kelvora_console=" + session})
        lines = exported.lstrip("\ufeff").splitlines()
        check("export: the whole bank as CSV, importable again",
              status == 200 and lines[0] == "question,answer,type,options" and len(lines) == count + 1 and
              '"火星上最高的山叫什么名字","奥林匹斯山","问答",""' in lines, (status, len(lines), count))

        # --- recent lookups ---
        driver.get(console + "/lookups?client=10.0.0.7")
        rows = driver.find_elements(By.CSS_SELECTOR, "#lookups-table tbody tr")
        check("recent lookups filtered by client", len(rows) == 5 and all("10.0.0.7" in r.text for r in rows),
              len(rows))

        # --- logging out ends the session ---
        submit(driver.find_element(By.ID, "logout"))
        check("logout leads to the login page", driver.current_url == console + "/login", driver.current_url)
        status = request(console_port, "GET", "/", headers={"Cookie": "kelvora_console=" + session})[0]
        check("the old session no longer opens a page", status == 303, status)
    finally:
        if driver:
            try:
                driver.quit()
            except WebDriverException:
                pass
        if server:
            server.send_signal(signal.SIGTERM)
            try:
                code = server.wait(timeout=10)
                check("the server stops on SIGTERM with status 0", code == 0, code)
                errors = server.stderr.read().decode("utf-8", "replace")
                check("the server wrote nothing to standard error", not errors, errors[-2000:])
            except subprocess.TimeoutExpired:
                server.kill()
                check("the server stops on SIGTERM", False, "still running after 10 s")
        store.drop()
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--service", required=True)
    parser.add_argument("--screenshots", help="folder for the overview's and the unanswered page's screenshots")
    parser.add_argument("--database", help="a PostgreSQL database (connection URI) to run the service on")
    args = parser.parse_args()
    if args.screenshots:
        os.makedirs(args.screenshots, exist_ok=True)

    def give_up(signum, frame):
        raise TimeoutError("the browser test ran over %d s" % WHOLE_RUN)

    signal.signal(signal.SIGALRM, give_up)
    signal.alarm(WHOLE_RUN)
    started = time.time()
    try:
        run(args)
    except Exception as error:  # any failure to drive the page is a failed test
        where = [f for f in traceback.extract_tb(error.__traceback__) if f.filename == os.path.abspath(__file__)][-1]
        check("the run completed", False, "%s at line %d (%s): %s" % (type(error).__name__, where.lineno, where.line,
                                                                      str(error).split("\n")[0]))
    print("console browser test: %d failed, %.1f s" % (len(failures), time.time() - started))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
