#include "ConsoleAssets.h"

namespace kelvora {

const std::string_view ConsoleCss = R"css(
*{box-sizing:border-box}
body{margin:0;font-family:"WenQuanYi Micro Hei","Microsoft YaHei","PingFang SC",sans-serif;color:#1d2733;background:#f4f6f9;font-size:15px;line-height:1.5}
header{background:#1f3a5f;color:#fff;padding:.5rem 1rem;display:flex;flex-wrap:wrap;align-items:center;gap:.5rem 1rem}
header .brand{font-weight:bold;margin-right:1rem}
header nav{display:flex;flex-wrap:wrap;gap:.25rem .9rem;flex:1}
header a{color:#dfe9f7;text-decoration:none}
header a.current{color:#fff;border-bottom:2px solid #8ec5ff}
header form{margin:0}
header button{background:none;border:1px solid #8aa4c4;color:#fff;padding:.15rem .6rem;border-radius:3px}
main{max-width:1100px;margin:0 auto;padding:1rem}
h1{font-size:1.35rem;margin:.3rem 0 1rem}
h2{font-size:1.1rem;margin:1.2rem 0 .6rem}
.cards{display:grid;grid-template-columns:repeat(auto-fit,minmax(160px,1fr));gap:.8rem}
.card{background:#fff;border-radius:6px;padding:.8rem 1rem;box-shadow:0 1px 2px rgba(0,0,0,.08)}
.card .label{color:#5b6776;font-size:.85rem}
.card .figure{font-size:1.6rem;font-weight:bold}
.panel{background:#fff;border-radius:6px;padding:1rem;box-shadow:0 1px 2px rgba(0,0,0,.08);margin:1rem 0}
.chart-box{position:relative;height:300px}
.table-wrap{overflow-x:auto}
table{border-collapse:collapse;width:100%;background:#fff}
th,td{text-align:left;padding:.45rem .5rem;border-bottom:1px solid #e3e7ed;vertical-align:top}
th{background:#eef2f7;font-weight:normal;color:#4a5666;white-space:nowrap}
td.num{text-align:right;white-space:nowrap}
td.text{word-break:break-word;min-width:12rem}
.nowrap{white-space:nowrap}
form.inline{display:inline}
label{display:block;margin:.4rem 0 .15rem;color:#4a5666}
input[type=text],input[type=password],input[type=search],textarea,select{width:100%;padding:.4rem;border:1px solid #b8c2cf;border-radius:4px;font:inherit}
textarea{min-height:4.5rem}
button,.button{background:#2a6bb8;color:#fff;border:0;border-radius:4px;padding:.4rem .9rem;font:inherit;cursor:pointer;text-decoration:none;display:inline-block}
button.secondary{background:#6b7785}
button.danger{background:#b83a2a}
.actions{display:flex;flex-wrap:wrap;gap:.5rem;margin-top:.6rem}
.message{padding:.6rem .8rem;border-radius:4px;margin:.6rem 0}
.message.ok{background:#e3f4e6;color:#1d5c2a}
.message.error{background:#fbe6e3;color:#8a2418}
.field-error{color:#8a2418;font-size:.9rem}
details{margin:.2rem 0}
summary{cursor:pointer;color:#2a6bb8}
.pager{display:flex;gap:1rem;margin:.8rem 0}
.muted{color:#6b7785}
.score{font-weight:bold}
progress{width:100%;height:1.2rem}
.login{max-width:360px;margin:3rem auto}
.search{display:flex;flex-wrap:wrap;gap:.5rem;align-items:flex-end}
.search>div{flex:1;min-width:10rem}
@media (max-width:600px){main{padding:.6rem}.chart-box{height:240px}header .brand{width:100%}}
)css";

const std::string_view ConsoleScript = R"js(
(function () {
  'use strict';
  function byId(id) { return document.getElementById(id); }

  document.querySelectorAll('form[data-confirm]').forEach(function (form) {
    form.addEventListener('submit', function (event) {
      if (!window.confirm(form.getAttribute('data-confirm'))) event.preventDefault();
    });
  });

  var data = byId('chart-data');
  if (data && window.Chart) {
    var figures = JSON.parse(data.textContent);
    var labels = figures.answered.map(function (_, i) {
      var t = new Date((figures.firstHour + i * 3600) * 1000);
      return (t.getMonth() + 1) + '-' + t.getDate() + ' ' + t.getHours() + '时';
    });
    new Chart(byId('hourly-chart'), {
      type: 'bar',
      data: {
        labels: labels,
        datasets: [
          { label: '已回答', data: figures.answered, backgroundColor: '#3d8b4f' },
          { label: '未回答', data: figures.unanswered, backgroundColor: '#c8553d' }
        ]
      },
      options: {
        animation: false, responsive: true, maintainAspectRatio: false,
        scales: { x: { stacked: true, ticks: { maxTicksLimit: 14 } }, y: { stacked: true, beginAtZero: true, ticks: { precision: 0 } } }
      }
    });
    new Chart(byId('unanswered-chart'), {
      type: 'bar',
      data: {
        labels: figures.topQuestions.map(function (q) { return q.length > 24 ? q.slice(0, 24) + '…' : q; }),
        datasets: [{ label: '被问次数', data: figures.topCounts, backgroundColor: '#c8553d' }]
      },
      options: {
        indexAxis: 'y', animation: false, responsive: true, maintainAspectRatio: false,
        plugins: { legend: { display: false } },
        scales: { x: { beginAtZero: true, ticks: { precision: 0 } } }
      }
    });
  }

  var importForm = byId('import-form');
  if (importForm) {
    importForm.addEventListener('submit', function (event) {
      event.preventDefault();
      var input = byId('bank-file');
      var status = byId('import-status');
      var bar = byId('import-progress');
      var result = byId('import-result');
      result.hidden = true;
      if (!input.files.length) { status.textContent = '请先选择一个 CSV 或 JSON 题库文件。'; return; }
      var file = input.files[0];
      var request = new XMLHttpRequest();
      request.open('POST', '/import?name=' + encodeURIComponent(file.name));
      request.setRequestHeader('X-CSRF-Token', importForm.getAttribute('data-csrf'));
      request.setRequestHeader('Content-Type', 'application/octet-stream');
      bar.value = 0; bar.max = 1;
      request.upload.onprogress = function (e) {
        if (!e.lengthComputable) return;
        bar.max = e.total; bar.value = e.loaded;
        bar.setAttribute('data-updates', String(Number(bar.getAttribute('data-updates') || 0) + 1));
        status.textContent = '正在上传：' + Math.round(100 * e.loaded / Math.max(e.total, 1)) + '%';
      };
      request.upload.onload = function () { status.textContent = '上传完成，正在导入…'; };
      request.onerror = function () { status.textContent = '上传失败：连接中断。'; };
      request.onload = function () {
        bar.value = bar.max;
        var reply;
        try { reply = JSON.parse(request.responseText); } catch (e) { reply = { ok: false, error: '服务器的回复无法读取（' + request.status + '）' }; }
        if (!reply.ok) { status.textContent = '导入失败：' + reply.error; return; }
        status.textContent = '导入完成。';
        byId('count-added').textContent = reply.added;
        byId('count-updated').textContent = reply.updated;
        byId('count-unchanged').textContent = reply.unchanged;
        byId('count-skipped').textContent = reply.skipped;
        var list = byId('import-warnings');
        list.textContent = '';
        reply.warnings.forEach(function (w) { var li = document.createElement('li'); li.textContent = w; list.appendChild(li); });
        byId('warnings-more').textContent = reply.warningsOmitted ? '另有 ' + reply.warningsOmitted + ' 条警告未列出。' : '';
        byId('no-warnings').hidden = reply.warnings.length > 0;
        result.hidden = false;
      };
      request.send(file);
      status.textContent = '正在上传…';
    });
  }
})();
)js";

} // namespace kelvora
