#include "json/JsonSupportScript.h"

// Written for ECMAScript 3 (the Script Control's JScript has no JSON, no
// Array.prototype.forEach and no Object.keys). Each piece below is one line
// of the final text; adjacent literals join without line breaks.
//
// get__count must come first and exactly so: it counts every enumerable name,
// own and inherited, minus the two that this script adds to Object.prototype.
// Our own loops over members therefore skip inherited names.
const char* const JsonSupportScript =
    R"js(function get__count(c){var i=-2;for(v in c)i++;return i})js"
    R"js(if(typeof JSON!=='object'||JSON===null){JSON={}})js"
    R"js((function(){)js"
    R"js(var own=Object.prototype.hasOwnProperty,kind=Object.prototype.toString,)js"
    R"js(named={'"':'\\"','\\':'\\\\','\b':'\\b','\f':'\\f','\n':'\\n','\r':'\\r','\t':'\\t'};)js"
    R"js(function two(n){return n<10?'0'+n:''+n})js"
    R"js(function escapeChar(c){if(own.call(named,c)){return named[c]})js"
    R"js(var h=c.charCodeAt(0).toString(16);return '\\u'+'0000'.substring(h.length)+h})js"
    // Control characters, the quote, the backslash and the two line separators
    // that ECMAScript 3 does not allow inside string literals.
    R"js(function quoted(s){return '"'+s.replace(/[\x00-\x1f"\\\x7f\u2028\u2029]/g,escapeChar)+'"'})js"
    R"js(function text(value,open){)js"
    R"js(if(value!==null&&typeof value==='object'&&typeof value.toJSON==='function'){value=value.toJSON()})js"
    R"js(var t=typeof value;)js"
    R"js(if(t==='string'){return quoted(value)})js"
    R"js(if(t==='number'){return isFinite(value)?String(value):'null'})js"
    R"js(if(t==='boolean'){return value?'true':'false'})js"
    R"js(if(t!=='object'){return undefined})js"
    R"js(if(value===null){return 'null'})js"
    R"js(for(var k=0;k<open.length;k++){if(open[k]===value){throw new TypeError('JSON.stringify: cyclic value')}})js"
    R"js(open.push(value);var parts=[],part,i,n;)js"
    R"js(if(kind.call(value)==='[object Array]'){)js"
    R"js(for(i=0,n=value.length;i<n;i++){part=text(value[i],open);parts.push(part===undefined?'null':part)})js"
    R"js(open.pop();return '['+parts.join(',')+']'})js"
    R"js(for(n in value){if(own.call(value,n)){part=text(value[n],open);if(part!==undefined){parts.push(quoted(n)+':'+part)}}})js"
    R"js(open.pop();return '{'+parts.join(',')+'}'})js"
    R"js(if(typeof JSON.stringify!=='function'){JSON.stringify=function(value){return text(value,[])}})js"
    // A reader over the whole text; tokens are matched with global expressions
    // whose match must start exactly at the reading position.
    R"js(var numberToken=/-?(?:0|[1-9]\d*)(?:\.\d+)?(?:[eE][+\-]?\d+)?/g,)js"
    R"js(stringToken=/"((?:[^"\\\x00-\x1f]|\\(?:["\\\/bfnrt]|u[0-9a-fA-F]{4}))*)"/g,)js"
    R"js(escapes={'"':'"','\\':'\\','/':'/',b:'\b',f:'\f',n:'\n',r:'\r',t:'\t'};)js"
    R"js(function unescapeToken(m,c){return c.length>1?String.fromCharCode(parseInt(c.substring(1),16)):escapes[c]})js"
    R"js(function read(source){var at=0;)js"
    R"js(function fail(){throw new SyntaxError('JSON.parse: unexpected text at '+at)})js"
    R"js(function skip(){var c;while(at<source.length){c=source.charAt(at);if(c!==' '&&c!=='\t'&&c!=='\n'&&c!=='\r'){return c}at++}return ''})js"
    R"js(function token(pattern){pattern.lastIndex=at;var m=pattern.exec(source);if(!m||m.index!==at){fail()}at+=m[0].length;return m})js"
    R"js(function str(){return token(stringToken)[1].replace(/\\(u[0-9a-fA-F]{4}|[^u])/g,unescapeToken)})js"
    R"js(function word(w,v){if(source.substring(at,at+w.length)!==w){fail()}at+=w.length;return v})js"
    R"js(function value(){var c=skip(),result,key;)js"
    R"js(if(c==='{'){at++;result={};if(skip()==='}'){at++;return result})js"
    R"js(for(;;){if(skip()!=='"'){fail()}key=str();if(skip()!==':'){fail()}at++;result[key]=value();)js"
    R"js(c=skip();at++;if(c==='}'){return result}if(c!==','){fail()}}})js"
    R"js(if(c==='['){at++;result=[];if(skip()===']'){at++;return result})js"
    R"js(for(;;){result.push(value());c=skip();at++;if(c===']'){return result}if(c!==','){fail()}}})js"
    R"js(if(c==='"'){return str()})js"
    R"js(if(c==='t'){return word('true',true)}if(c==='f'){return word('false',false)}if(c==='n'){return word('null',null)})js"
    R"js(return +token(numberToken)[0]})js"
    R"js(var result=value();if(skip()!==''){fail()}return result})js"
    R"js(function revive(holder,key,reviver){var v=holder[key],k,r;)js"
    R"js(if(v!==null&&typeof v==='object'){for(k in v){if(own.call(v,k)){r=revive(v,k,reviver);if(r===undefined){delete v[k]}else{v[k]=r}}}})js"
    R"js(return reviver.call(holder,key,v)})js"
    R"js(if(typeof JSON.parse!=='function'){JSON.parse=function(source,reviver){var result=read(String(source));)js"
    R"js(return typeof reviver==='function'?revive({'':result},'',reviver):result}})js"
    R"js(if(typeof Date.prototype.toJSON!=='function'){)js"
    R"js(Date.prototype.toJSON=function(){if(!isFinite(this.valueOf())){return null}var ms=this.getUTCMilliseconds();)js"
    R"js(return this.getUTCFullYear()+'-'+two(this.getUTCMonth()+1)+'-'+two(this.getUTCDate())+'T'+two(this.getUTCHours())+':')js"
    R"js(+two(this.getUTCMinutes())+':'+two(this.getUTCSeconds())+'.'+(ms<100?'0':'')+two(ms)+'Z'};)js"
    R"js(String.prototype.toJSON=Number.prototype.toJSON=Boolean.prototype.toJSON=function(){return this.valueOf()}})js"
    R"js(if(typeof Object.prototype.toJSONString!=='function'){)js"
    R"js(Object.prototype.toJSONString=function(){return JSON.stringify(this)};)js"
    R"js(Object.prototype.parseJSON=function(reviver){return JSON.parse(this,reviver)}})js"
    R"js(}());)js";
