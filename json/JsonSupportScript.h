#pragma once

// Script text that every new engine runs before anything else: the member
// counter get__count and JSON support for an ECMAScript 3 engine (a global
// JSON with stringify and parse where missing, toJSON on the value
// prototypes, and toJSONString / parseJSON as enumerable members of
// Object.prototype). One line of ASCII.
extern const char* const JsonSupportScript;
