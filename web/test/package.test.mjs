// SPDX-License-Identifier: MIT
// The npm package as its users get it: the API in Node.js, and the tarball
// that `npm pack` makes, installed on its own and loaded by import and require.
import { describe, test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { fileURLToPath } from "node:url";
import * as tuvello from "../src/index.js";

const webDir = fileURLToPath(new URL("..", import.meta.url));
const sample = (image, i) => image[44 + 2 * i] | ((image[45 + 2 * i] << 24) >> 16);

describe("render", () => {
  test("gives the known images", () => {
    const c = tuvello.render("c");
    assert.equal(c.length, 4454);
    assert.equal(new TextDecoder().decode(c.subarray(0, 4)), "RIFF");
    assert.equal(new TextDecoder().decode(c.subarray(8, 12)), "WAVE");
    assert.equal(sample(c, 0), 1221);
    assert.equal(tuvello.render("").length, 44);
    assert.equal(tuvello.render("len:200;vol:80;c;e;g;p;c").length, 44 + 5 * 8820);
  });

  test("takes a string as UTF-8 and bytes as they are, up to the first NUL", () => {
    const text = "len:50;c;\u00e9;e";
    assert.deepEqual(tuvello.render(text), tuvello.render(new TextEncoder().encode(text)));
    assert.deepEqual(tuvello.render("c;e\0;g"), tuvello.render("c;e"));
    assert.throws(() => tuvello.render(42), TypeError);
  });

  test("refuses a song past 2147483647 bytes, and still works after", () => {
    const tooLong = "len:500;" + "c;".repeat(97400);
    assert.throws(() => tuvello.render(tooLong), RangeError);
    assert.throws(() => tuvello.notes(tooLong), RangeError);
    assert.equal(tuvello.render("c").length, 4454);
  });

  test("fromRtttl refuses a song text past what wasm32 addresses, before writing anything", () => {
    // Dotted whole notes at one beat a minute: 4,294,968,493 bytes of song
    // text, whose size wraps to 1,198 as a 32-bit number.
    const ringtone = "t:d=1,o=5,b=1:" + "c.,".repeat(2982617);
    assert.throws(() => tuvello.fromRtttl(ringtone), { name: "RangeError", message: /4294968493 bytes/ });
    assert.equal(tuvello.fromRtttl("t:d=8,o=5,b=150:c,e").text, "len:200;oct:3;c;e");
    assert.equal(sample(tuvello.render("c"), 0), 1221);
  });
});

describe("notes and check", () => {
  test("notes gives each block's command, place and sound", () => {
    const notes = tuvello.notes("len:200;vol:80;c;pipe:1;e;dec:1;g;p");
    assert.deepEqual(
      notes.map((n) => [n.command, n.textOffset, n.textLength, n.imageOffset, n.bytes, n.time, n.pipe, n.decay]),
      [
        [3, 15, 1, 44, 8820, 0, false, false],
        [5, 24, 1, 8864, 8820, 0.2, true, false],
        [7, 32, 1, 17684, 8820, 0.4, true, true],
        [8, 34, 1, 26504, 8820, 0.6, true, true],
      ],
    );
    assert.equal(notes[0].pitchHz, 130.815); // c sounds an octave below its table frequency
    assert.equal(notes[0].amplitude, 26214); // 80 % of 32767
    assert.equal(notes[3].pitchHz, 0);
    assert.equal(notes[3].amplitude, 0);
  });

  test("check gives each warning's bytes, kind and message", () => {
    const warnings = tuvello.check("x:5;;vol:500;c:3;oct:1");
    assert.deepEqual(
      warnings.map((w) => [w.command, w.textOffset, w.textLength, w.kind]),
      [[1, 0, 3, 2], [2, 4, 0, 1], [3, 5, 7, 3], [4, 13, 3, 5], [5, 17, 5, 6]],
    );
    assert.equal(warnings[0].message, "command 1 'x:5': unknown key 'x', so the command is skipped");
    assert.deepEqual(tuvello.check("len:200;c;e"), []);
  });
});

// The same note map and warnings as the native tool (TUVELLO in the
// environment) prints, for the identity corpus and the tool's check corpus.
describe("against the native tool", { skip: !process.env.TUVELLO && "set TUVELLO to the tool" }, () => {
  // The text goes in on standard input, byte for byte (an argument would be
  // re-encoded as UTF-8); none of these texts ends in a line break, which the
  // tool would drop.
  const tool = (text, ...args) =>
    execFileSync(process.env.TUVELLO, [...args, "-f", "-"], { input: text, maxBuffer: 1 << 28 });
  const unescape = (s) =>
    s.replace(/\\(x[0-9a-fA-F]{2}|.)/g, (_, e) =>
      e[0] === "x" ? String.fromCharCode(parseInt(e.slice(1), 16)) : ({ n: "\n", t: "\t", r: "\r" }[e] ?? e),
    );
  const root = join(webDir, "..");
  const identity = readFileSync(join(root, "tests/data/identity_corpus.txt"), "latin1").split("\n").slice(0, -1);
  const checks = [...readFileSync(join(root, "tests/cli/check_corpus.txt"), "latin1").matchAll(/^text: ?(.*)$/gm)]
    .map((m) => unescape(m[1]));
  const texts = [...identity, ...checks].map((t) => Buffer.from(t, "latin1"));

  test("notes gives the note map that tuvello notes prints", () => {
    for (const text of texts) {
      const native = tool(text, "notes", "--json")
        .toString()
        .split("\n")
        .filter((l) => l !== "")
        .map((l) => JSON.parse(l));
      const mine = tuvello.notes(text);
      assert.equal(mine.length, native.length, text.toString("latin1"));
      mine.forEach((n, i) => {
        const t = native[i];
        assert.deepEqual(
          [n.command, n.textOffset, n.textLength, n.imageOffset, n.bytes, n.frames, n.pitchHz.toFixed(3), n.amplitude, n.pipe, n.decay],
          [t.command, t.offset, t.length, t.image_offset, t.bytes, t.frames, t.pitch_hz.toFixed(3), t.amplitude, t.pipe, t.decay],
        );
      });
    }
  });

  test("check gives the warnings that tuvello check prints, at the same places", () => {
    for (const text of texts) {
      let out;
      try {
        out = tool(text, "check");
      } catch (e) {
        out = e.stdout; // exit status 1: something reported
      }
      const native = out
        .toString("latin1")
        .split("\n")
        .filter((l) => l.includes(": warning: "))
        .map((l) => l.match(/^<stdin>:(\d+):(\d+): warning: (.*)$/).slice(1));
      const mine = tuvello.check(text).map((w) => {
        const before = text.subarray(0, w.textOffset).toString("latin1");
        const line = before.split("\n").length;
        const column = w.textOffset - (before.lastIndexOf("\n") + 1) + 1;
        return [String(line), String(column), w.message];
      });
      assert.deepEqual(mine, native, text.toString("latin1"));
    }
  });
});

describe("the package", () => {
  test("has the library's version and declares what it exports", () => {
    const header = readFileSync(join(webDir, "../include/tuvello.h"), "utf8");
    const part = (name) => header.match(new RegExp(`#define TUVELLO_VERSION_${name} (\\d+)`))[1];
    assert.equal(tuvello.version, `${part("MAJOR")}.${part("MINOR")}.${part("PATCH")}`);
    const manifest = JSON.parse(readFileSync(join(webDir, "package.json"), "utf8"));
    assert.equal(manifest.version, tuvello.version, "web/package.json's version is the library's");
    const declarations = readFileSync(join(webDir, "index.d.ts"), "utf8");
    for (const name of Object.keys(tuvello).filter((n) => n !== "default")) {
      assert.match(declarations, new RegExp(`export declare (const|function) ${name}\\b`), name);
    }
  });

  test("npm pack makes a tarball, with the license, that import and require both load", () => {
    const work = mkdtempSync(join(tmpdir(), "tuvello-pack-"));
    try {
      const npm = process.env.NPM || "npm";
      const [packed] = JSON.parse(
        execFileSync(npm, ["pack", "--json", "--pack-destination", work], { cwd: webDir }).toString(),
      );
      assert.deepEqual(packed.files.map((f) => f.path).sort(), [
        "LICENSE",
        "README.md",
        "dist/index.cjs",
        "dist/index.d.cts",
        "dist/tuvello-wasm.js",
        "dist/tuvello.wasm",
        "index.d.ts",
        "package.json",
        "src/core.js",
        "src/index.js",
      ]);
      assert.ok(!existsSync(join(webDir, "LICENSE")), "npm pack leaves its copy of the license behind");
      // Installed as a project's dependency, found by its name.
      const installed = join(work, "node_modules/tuvello");
      mkdirSync(installed, { recursive: true });
      execFileSync("tar", ["-xzf", join(work, packed.filename), "-C", installed, "--strip-components=1"]);
      assert.equal(readFileSync(join(installed, "LICENSE"), "utf8"), readFileSync(join(webDir, "../LICENSE"), "utf8"));
      const run = (...args) => JSON.parse(execFileSync(process.execPath, args, { cwd: work }).toString());
      const report = 'JSON.stringify([Object.keys(t).sort(), [...t.render("c;e")].join(), t.default.version])';
      const required = run("-e", `const t = require("tuvello"); console.log(${report})`);
      const imported = run("--input-type=module", "-e", `import * as t from "tuvello"; console.log(${report})`);
      assert.deepEqual(required, imported);
      assert.deepEqual(required[0], Object.keys(tuvello).sort());
      assert.equal(required[1], [...tuvello.render("c;e")].join());
    } finally {
      rmSync(work, { recursive: true, force: true });
    }
  });

  test("its README shows every export", () => {
    const readme = readFileSync(join(webDir, "README.md"), "utf8");
    const code = [...readme.matchAll(/```js\n([\s\S]*?)```|`([^`\n]+)`/g)].map((m) => m[1] ?? m[2]).join("\n");
    for (const name of Object.keys(tuvello)) {
      const use = name === "default" ? /import tuvello from "tuvello"/ : new RegExp(`\\b${name}\\b`);
      assert.match(code, use, name);
    }
    assert.match(code, /require\("tuvello"\)/);
  });
});
