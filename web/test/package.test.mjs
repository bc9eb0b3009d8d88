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
import { chooseModule } from "../src/core.js";
import { rollLayout } from "../page/roll.js";

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

  test("writes into the array given when the image fits, else into a new one", () => {
    const into = new Uint8Array(5000).fill(7);
    const image = tuvello.render("c", { into });
    assert.equal(image.buffer, into.buffer);
    assert.deepEqual(image, tuvello.render("c"));
    assert.deepEqual(into.subarray(4454), new Uint8Array(546).fill(7));
    const small = new Uint8Array(4453);
    assert.notEqual(tuvello.render("c", { into: small }).buffer, small.buffer);
    assert.deepEqual(small, new Uint8Array(4453));
    assert.throws(() => tuvello.render("c", { into: [] }), TypeError);
  });

  test("takes a string as UTF-8 and bytes as they are, up to the first NUL", () => {
    const text = "len:50;c;\u00e9;e";
    assert.deepEqual(tuvello.render(text), tuvello.render(new TextEncoder().encode(text)));
    assert.deepEqual(tuvello.render("c;e\0;g"), tuvello.render("c;e"));
    assert.throws(() => tuvello.render(42), TypeError);
  });

  test("holds a large image once: in its array, never whole in the module's memory too", () => {
    // 176 MB of image; the peak of a fresh process stays within the image
    // and 100 MB (Node.js itself and the module), where the image held in
    // the module's memory too would pass it by 76 MB.
    const script =
      `import * as t from ${JSON.stringify(new URL("../src/index.js", import.meta.url).href)};` +
      'const image = t.render("len:500;" + "a;".repeat(8000));' +
      "console.log(JSON.stringify([image.length, process.resourceUsage().maxRSS * 1024]));";
    const [length, peak] = JSON.parse(execFileSync(process.execPath, ["--input-type=module", "-e", script]));
    assert.equal(length, 44 + 8000 * 22050);
    assert.ok(peak < length + 100e6, `peak ${peak} bytes for an image of ${length}`);
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
    assert.throws(() => tuvello.fromRtttl(ringtone, { maxImageBytes: 0 }), {
      name: "RangeError",
      message: /4294968493 bytes/,
    });
    assert.equal(tuvello.fromRtttl("t:d=8,o=5,b=150:c,e").text, "len:200;oct:3;c;e");
    assert.equal(sample(tuvello.render("c"), 0), 1221);
  });

  test("fromRtttl stops at the note whose song image would pass the limit, by default an image's", () => {
    // 15.9 MB of image a note: the 136th passes 2147483647 bytes, at byte 14 + 135 * 3.
    const ringtone = "t:d=1,o=5,b=1:" + "c.,".repeat(333333);
    assert.throws(() => tuvello.fromRtttl(ringtone), {
      name: "RangeError",
      message: /would pass 2147483647 bytes at the ringtone's note at byte 419$/,
      textOffset: 419,
    });
    const tune = "t:d=4,o=5,b=120:c,c"; // 22050 bytes a note
    assert.equal(tuvello.fromRtttl(tune, { maxImageBytes: 44 + 2 * 22050 }).text, "len:500;oct:3;c;c");
    assert.throws(() => tuvello.fromRtttl(tune, { maxImageBytes: 44 + 2 * 22050 - 1 }), { textOffset: 18 });
    for (const maxImageBytes of [43, -1, 1.5, "44"]) {
      assert.throws(() => tuvello.fromRtttl(tune, { maxImageBytes }), RangeError);
    }
  });
});

describe("the two builds of the module", () => {
  test("the SIMD one runs where the engine validates SIMD, else the scalar one", () => {
    const modules = { simd: "simd", scalar: "scalar" };
    assert.equal(chooseModule(modules), "simd"); // Node.js 20 runs WebAssembly SIMD
    assert.equal(chooseModule(modules, { simd: false }), "scalar");
    const validate = WebAssembly.validate;
    WebAssembly.validate = () => false; // an engine without SIMD
    try {
      assert.equal(chooseModule(modules), "scalar");
      assert.equal(chooseModule(modules, { simd: true }), "simd");
    } finally {
      WebAssembly.validate = validate;
    }
  });

  test("both render the same images, each on its own instance", async () => {
    const [simd, scalar] = await Promise.all([tuvello.load({ simd: true }), tuvello.load({ simd: false })]);
    assert.notEqual(simd, scalar);
    for (const text of ["c", "len:500;vol:90;c;pipe;e;dec:1;g;oct:3;a;h", "len:20;dec:1;vol:5;c;d;e"]) {
      assert.deepEqual(simd.render(text), tuvello.render(text), text);
      assert.deepEqual(scalar.render(text), tuvello.render(text), text);
    }
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

describe("the image's format", () => {
  test("comes from the module, as include/tuvello.h defines it, and nowhere in the scripts", async () => {
    const header = readFileSync(new URL("../../include/tuvello.h", import.meta.url), "utf8");
    const macro = (name) => Number(header.match(new RegExp(`#define TUVELLO_${name} (\\d+)`))[1]);
    const expected = { sampleRate: macro("SAMPLE_RATE"), byteRate: macro("BYTE_RATE"), headerBytes: macro("HEADER_BYTES") };
    for (const simd of [true, false]) assert.deepEqual({ ...(await tuvello.load({ simd })).format }, expected);
    for (const script of ["../src/core.js", "../page/app.js"]) {
      const source = readFileSync(new URL(script, import.meta.url), "utf8");
      for (const value of [expected.sampleRate, expected.byteRate]) assert.doesNotMatch(source, new RegExp(`\\b${value}\\b`), script);
    }
  });
});

describe("the playground's piano roll", () => {
  test("puts its bars where tuvello plot does (tests/data/piano_roll/roll.json)", () => {
    const { songs } = JSON.parse(readFileSync(new URL("../../tests/data/piano_roll/roll.json", import.meta.url)));
    for (const { about, text, width, bars } of songs) {
      const notes = tuvello.notes(text.map((p) => (typeof p === "string" ? p : p[0].repeat(p[1]))).join(""));
      const laid = rollLayout(notes, width, tuvello.default.format.sampleRate).bars;
      assert.equal(laid.length, bars.length, about);
      laid.forEach((b, i) => {
        const got = [b.x0, b.y0, b.x1 - b.x0, b.height];
        assert.ok(got.every((v, k) => Math.abs(v - bars[i][k]) < 0.011), `${about}: bar ${i} is [${got}], not [${bars[i]}]`);
      });
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
        "dist/tuvello-simd-wasm.js",
        "dist/tuvello-simd.wasm",
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
      // The scalar module, which both entries ship too.
      const scalar = 't.load({ simd: false }).then((s) => console.log(JSON.stringify([...s.render("c;e")].join())))';
      assert.equal(run("-e", `const t = require("tuvello"); ${scalar}`), required[1]);
      assert.equal(run("--input-type=module", "-e", `import * as t from "tuvello"; ${scalar}`), required[1]);
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

// RTTTL and MIDI both ways, call for call as the native library converts
// (web/test/native.py through ctypes; LIBRARY in the environment).
describe("conversions against the native library", { skip: !process.env.LIBRARY && "set LIBRARY to the library" }, () => {
  const root = join(webDir, "..");
  const native = (calls) =>
    JSON.parse(
      execFileSync("python3", [join(webDir, "test/native.py"), process.env.LIBRARY], {
        input: JSON.stringify(calls.map(([f, input, ...args]) => [f, Buffer.from(input).toString("base64"), ...args])),
        maxBuffer: 1 << 28,
      }),
    ).map(([out, warnings]) => [Buffer.from(out, "base64"), warnings]);
  const mine = (warnings) => warnings.map((w) => [w.command, w.textOffset, w.textLength, w.kind, w.message]);
  const songs = [
    ...readFileSync(join(root, "tests/data/identity_corpus.txt"), "latin1").split("\n").slice(0, -1),
    "len:200;vol:50;c;oct:2;e;len:37;g;pipe:1;h;dec:1;p;oct:8;cs",
  ].map((t) => Buffer.from(t, "latin1"));
  const tunes = readFileSync(join(root, "tests/data/rtttl_tunes.txt"), "utf8")
    .split("\n")
    .filter((l) => l && !/^(#|ms )/.test(l));
  tunes.push("t:d=8,o=6,b=150:d7,d7,d7,d6", "t:d=4,o=4,b=120:c1,c8,c");

  test("fromRtttl under each octave shift", () => {
    const shifts = [["auto", 0, 0], ["none", 1, 0], [-1, 2, -1], [2, 2, 2]];
    const calls = shifts.flatMap(([, mode, octaves]) => tunes.map((t) => ["rtttl", t, mode, octaves]));
    const expected = native(calls);
    let i = 0;
    for (const [octaveShift] of shifts) {
      for (const tune of tunes) {
        const { text, warnings } = tuvello.fromRtttl(tune, { octaveShift });
        assert.deepEqual([text, mine(warnings)], [expected[i][0].toString(), expected[i][1]], `${octaveShift} ${tune}`);
        ++i;
      }
    }
    assert.deepEqual(tuvello.fromRtttl(tunes.at(-2)), tuvello.fromRtttl(tunes.at(-2), { octaveShift: "auto" }));
  });

  test("toRtttl and toMidi", () => {
    const expected = native(songs.flatMap((s) => [["export_rtttl", s, "my:tune"], ["export_midi", s]]));
    songs.forEach((song, i) => {
      const { rtttl, warnings } = tuvello.toRtttl(song, "my:tune");
      assert.deepEqual([rtttl, mine(warnings)], [expected[2 * i][0].toString(), expected[2 * i][1]], song.toString("latin1"));
      const midi = tuvello.toMidi(song);
      assert.deepEqual([Buffer.from(midi.midi), mine(midi.warnings)], expected[2 * i + 1], song.toString("latin1"));
    });
    assert.equal(tuvello.toRtttl("len:200;c;e;g").rtttl, "tune:d=4,o=3,b=300:c,e,g");
  });

  test("fromMidi with each option", () => {
    const dir = join(root, "tests/data/midi");
    const files = ["channels", "overlaps", "tracks", "velocity", "bad_events", "truncated", "wide_tune", "smpte2997"]
      .map((n) => readFileSync(join(dir, `${n}.mid`)))
      .concat(songs.slice(-3).map((s) => Buffer.from(tuvello.toMidi(s).midi)), [Buffer.alloc(0)]);
    const options = [[0, 0, "highest", false], [2, 0, "lowest", true], [0, 2, "first", false], [9, 16, "highest", true]];
    const calls = options.flatMap(([t, c, o, v]) => files.map((f) => ["midi", f, t, c, ["highest", "lowest", "first"].indexOf(o), +v]));
    const expected = native(calls);
    let i = 0;
    for (const [track, channel, overlap, velocity] of options) {
      for (const file of files) {
        const { text, warnings } = tuvello.fromMidi(new Uint8Array(file), { track, channel, overlap, velocity });
        assert.deepEqual([text, mine(warnings)], [expected[i][0].toString(), expected[i][1]], `${calls[i].slice(2)} #${i}`);
        ++i;
      }
    }
  });
});

describe("collections and options", () => {
  test("fromRtttlCollection yields each line's tune with warnings at line and column", () => {
    const collection = "# mine\n\nA:d=4,o=5,b=100:c,x\r\n \t\nStar Wars: Main Title:d=8,o=5,b=100:a,h\n\u00e9t\u00e9:d=4:c,,y";
    const tunes = [...tuvello.fromRtttlCollection(collection)];
    assert.deepEqual(tunes.map((t) => [t.line, t.name]), [[3, "A"], [5, "Star Wars: Main Title"], [6, "\u00e9t\u00e9"]]);
    const bytes = new TextEncoder().encode(collection);
    const lines = collection.split("\n");
    for (const tune of tunes) {
      const alone = tuvello.fromRtttl(lines[tune.line - 1].replace(/\r$/, ""));
      assert.equal(tune.text, alone.text);
      assert.deepEqual(tune.warnings.map((w) => [w.message, w.column]), alone.warnings.map((w) => [w.message, w.textOffset + 1]));
    }
    const x = tunes[0].warnings.find((w) => /'x'/.test(w.message));
    assert.deepEqual([x.line, x.column, new TextDecoder().decode(bytes.subarray(x.textOffset, x.textOffset + 1))], [3, 19, "x"]);
    const y = tunes[2].warnings.find((w) => /'y'/.test(w.message)); // bytes, not characters
    assert.deepEqual([y.line, y.column, String.fromCharCode(bytes[y.textOffset])], [6, 14, "y"]);
    assert.deepEqual([...tuvello.fromRtttlCollection("#\n\n")], []);
  });

  test("options out of range are refused before anything is converted", () => {
    const midi = tuvello.toMidi("c").midi;
    for (const bad of [
      () => tuvello.fromRtttl("t:c", { octaveShift: 9 }),
      () => tuvello.fromRtttl("t:c", { octaveShift: 1.5 }),
      () => tuvello.fromRtttl("t:c", { octaveShift: "up" }),
      () => tuvello.fromRtttlCollection("t:c", { octaveShift: -9 }).next(),
      () => tuvello.fromMidi(midi, { track: -1 }),
      () => tuvello.fromMidi(midi, { channel: 17 }),
      () => tuvello.fromMidi(midi, { overlap: "loudest" }),
      () => tuvello.toMidi("len:500;" + "c;".repeat(97400)),
    ]) {
      assert.throws(bad, RangeError);
    }
    assert.throws(() => tuvello.fromMidi([77, 84]), TypeError);
    assert.equal(tuvello.fromMidi(midi, { track: 1, channel: 1, overlap: "first", velocity: true }).text, "c");
  });
});
