// SPDX-License-Identifier: MIT
// The playground in Debian's Chromium, driven by playwright-core: the page's
// API against the native library, the editor's warnings, the player, the
// download, the layout on a phone. Screenshots go to ARTIFACTS.
//
// Environment: TUVELLO (the tool), SONG_HOST and LIBRARY (the native test
// host and library), CORPUS (texts, one a line), ARTIFACTS (a directory),
// CHROMIUM (default /usr/bin/chromium).
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdirSync, mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { pathToFileURL } from "node:url";
import { chromium } from "playwright-core";

const env = (name) => {
  if (!process.env[name]) throw new Error(`set ${name} (see the comment at the top of this file)`);
  return process.env[name];
};
const pageUrl = pathToFileURL(new URL("../dist/index.html", import.meta.url).pathname).href;
const nativeImage = (text) => execFileSync(env("TUVELLO"), ["render", "-q", "-o", "-", text]);
// The demo song: cli/demo_song.txt, which the tool prints with a line break.
const demoText = () => {
  const song = readFileSync(new URL("../../cli/demo_song.txt", import.meta.url), "latin1");
  assert.equal(execFileSync(env("TUVELLO"), ["demo", "--text"]).toString("latin1"), `${song}\n`);
  return song;
};
// One conversion by the native library (web/test/native.py): [output, warnings].
const native = (...call) => {
  const [f, input, ...args] = call;
  const request = JSON.stringify([[f, Buffer.from(input).toString("base64"), ...args]]);
  const [[out, warnings]] = JSON.parse(
    execFileSync("python3", [new URL("native.py", import.meta.url).pathname, env("LIBRARY")], { input: request }),
  );
  return [Buffer.from(out, "base64"), warnings];
};

let profile, browser, artifacts;

before(async () => {
  artifacts = env("ARTIFACTS");
  mkdirSync(artifacts, { recursive: true });
  profile = mkdtempSync(join(tmpdir(), "tuvello-chromium-"));
  browser = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    acceptDownloads: true,
    viewport: { width: 1100, height: 820 },
    args: [
      "--no-sandbox",
      "--disable-gpu",
      "--disable-background-networking",
      "--disable-component-update",
      "--no-first-run",
      "--autoplay-policy=no-user-gesture-required",
    ],
  });
});

after(async () => {
  await browser?.close();
  if (profile) rmSync(profile, { recursive: true, force: true });
});

async function openPage(url = pageUrl) {
  const page = await browser.newPage();
  const errors = [];
  page.on("pageerror", (e) => errors.push(e.message));
  await page.goto(url);
  await page.evaluate(() => window.tuvello.ready);
  page.errors = errors;
  return page;
}

// Types a new text the way a user does: select all, then key by key.
async function typeText(page, text) {
  await page.focus("#song");
  await page.keyboard.press("Control+A");
  await page.keyboard.press("Delete");
  await page.keyboard.type(text);
}

describe("the playground page", () => {
  test("opens on the demo song with its summary, picture and waveform", async () => {
    const page = await openPage();
    assert.equal(await page.inputValue("#song"), demoText());
    const image = nativeImage(demoText());
    const summary = await page.textContent("#summary");
    assert.match(summary, new RegExp(`${((image.length - 44) / 44100).toFixed(2)} s`));
    assert.match(summary, new RegExp(`${image.length.toLocaleString("en-US")} bytes`));
    assert.equal(await page.locator("#roll rect.note[data-index]").count(), 22); // the demo's tones
    assert.ok((await page.locator("#roll rect.note.pipe[data-index]").count()) > 0);
    assert.ok((await page.locator("#roll g[mask] rect.note.decay[data-index]").count()) > 0);
    assert.equal(await page.textContent("#version"), await page.evaluate(() => window.tuvello.version));
    assert.equal(await page.getByText("plays or stops").isVisible(), true); // a mouse and a keyboard here
    // The README's screenshot (cmake --build build --target playground_screenshot copies it).
    await page.screenshot({ path: join(artifacts, "playground.png") });
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test("window.tuvello renders the native library's images, note map and warnings", async () => {
    const page = await openPage();
    const lines = readFileSync(env("CORPUS"), "latin1").split("\n");
    if (lines.at(-1) === "") lines.pop(); // the final line break; empty lines within are texts
    const native = execFileSync(env("SONG_HOST"), [env("LIBRARY"), "render", env("CORPUS")], {
      maxBuffer: 1 << 30,
    });
    const rendered = await page.evaluate(async (texts) => {
      const parts = texts.map((t) => window.tuvello.render(t));
      let s = "";
      for (const p of parts) for (let i = 0; i < p.length; i += 0x8000) s += String.fromCharCode(...p.subarray(i, i + 0x8000));
      return btoa(s);
    }, lines);
    assert.ok(native.length > 1000000);
    assert.ok(Buffer.from(rendered, "base64").equals(native), "page images differ from the native ones");

    const text = "len:200;vol:80;c;e;g;p;c";
    const notes = await page.evaluate((t) => window.tuvello.notes(t), text);
    assert.deepEqual(
      notes.map((n) => [n.command, n.textOffset, n.imageOffset, n.bytes, n.pitchHz > 0]),
      [[3, 15, 44, 8820, true], [4, 17, 8864, 8820, true], [5, 19, 17684, 8820, true],
       [6, 21, 26504, 8820, false], [7, 23, 35324, 8820, true]],
    );
    const warnings = await page.evaluate(() => window.tuvello.check("c;x:5;;vol:500"));
    assert.deepEqual(
      warnings.map((w) => [w.command, w.textOffset, w.textLength, w.kind]),
      [[2, 2, 3, 2], [3, 6, 0, 1], [4, 7, 7, 3]],
    );
    assert.match(warnings[0].message, /unknown key 'x'/);
    await page.close();
  });

  test("typing underlines each warning at its bytes and lists it; fixing it clears both", async () => {
    const page = await openPage();
    await typeText(page, "len:200;c;x:5;e;vol:500;g");
    await page.waitForFunction(() => document.querySelectorAll("#warnings button").length === 2);
    assert.deepEqual(await page.locator("#backdrop mark.warn").allTextContents(), ["x:5", "vol:500"]);
    const items = await page.locator("#warnings button").allTextContents();
    assert.match(items[0], /command 3 'x:5': unknown key/);
    assert.match(items[1], /command 5 'vol:500': value 500 is outside/);
    assert.match(await page.textContent("#warning-heading"), /\(2\)/);

    // A warning in the list selects its command in the editor.
    await page.locator("#warnings button").nth(1).click();
    const selection = await page.evaluate(() => {
      const s = document.getElementById("song");
      return s.value.slice(s.selectionStart, s.selectionEnd);
    });
    assert.equal(selection, "vol:500");
    await page.keyboard.type("vol:50");
    await page.waitForFunction(() => document.querySelectorAll("#warnings button").length === 1);
    assert.deepEqual(await page.locator("#backdrop mark.warn").allTextContents(), ["x:5"]);
    await page.screenshot({ path: join(artifacts, "playground-warnings.png") });

    // Bytes, not characters: a two-byte letter before a warning, shown as
    // typed; a letter cut by the message's 40-byte quote stays escaped.
    await typeText(page, "c;\u00e9;d;" + "x".repeat(39) + "\u00e9");
    await page.waitForFunction(() => document.querySelectorAll("#warnings button").length === 2);
    assert.deepEqual(await page.locator("#backdrop mark.warn").allTextContents(), ["\u00e9", "x".repeat(39) + "\u00e9"]);
    const shown = await page.locator("#warnings button").allTextContents();
    assert.match(shown[0], /^command 2 '\u00e9': unknown key '\u00e9'/);
    assert.match(shown[1], /'x{39}\\xC3\.\.\.'/);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test("Play moves the playhead and the highlighted command along the song; Stop ends it", async () => {
    const page = await openPage();
    await page.click("#demo"); // an earlier test left its text in the page's storage
    await page.click("#play");
    await page.waitForFunction(() => document.querySelector("#backdrop mark.playing"));
    const sample = () =>
      page.evaluate(() => ({
        x: Number(document.querySelector("#roll .playhead").getAttribute("x1")),
        playing: document.querySelector("#backdrop mark.playing")?.textContent,
        offset: [...document.getElementById("backdrop").childNodes]
          .map((n) => (n.nodeName === "MARK" && n.classList.contains("playing") ? "|" : n.textContent))
          .join("")
          .indexOf("|"),
        active: document.querySelector("#roll rect.note.active")?.dataset.index,
      }));
    const first = await sample();
    // The demo's notes last 120 to 480 ms: within two seconds the player is
    // several commands further on.
    await page.waitForFunction(
      (x) => Number(document.querySelector("#roll .playhead").getAttribute("x1")) > x + 100,
      first.x,
      { timeout: 5000 },
    );
    const later = await sample();
    assert.ok(later.x > first.x);
    assert.notEqual(later.offset, first.offset);
    assert.notEqual(later.active, first.active);
    assert.equal(await page.isDisabled("#stop"), false);
    assert.equal(await page.isVisible("#wave-head"), true);
    await page.screenshot({ path: join(artifacts, "playground-playing.png") });

    await page.click("#stop");
    assert.equal(await page.locator("#backdrop mark.playing").count(), 0);
    assert.equal(await page.getAttribute("#roll .playhead", "visibility"), "hidden");
    assert.equal(await page.isVisible("#wave-head"), false);
    assert.equal(await page.isDisabled("#play"), false);

    // The keyboard alone: Ctrl+Enter in the editor plays, Escape stops.
    await page.focus("#song");
    await page.keyboard.press("Control+Enter");
    await page.waitForFunction(() => !document.getElementById("stop").disabled);
    await page.keyboard.press("Escape");
    await page.waitForFunction(() => document.getElementById("stop").disabled);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test("Import RTTTL puts what the native library makes of a ringtone into the editor", async () => {
    const page = await openPage();
    const ringtone = "tune:d=4,o=5,b=125:8c6,8e6,g6,p,2c7";
    await page.click(".import summary");
    await page.fill("#rtttl", ringtone);
    await page.click("#import");
    // Moved down an octave as a whole, the library's default.
    const [text, warnings] = native("rtttl", ringtone, 0, 0);
    assert.equal(await page.inputValue("#song"), text.toString());
    const listed = await page.locator("#rtttl-warnings li").allTextContents();
    assert.deepEqual(listed, warnings.map((w) => `byte ${w[1] + 1}: ${w[4]}`));
    assert.match(listed[0], /plays an octave lower/);
    assert.match(await page.textContent("#summary"), /2\.40 s/);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test("a ringtone without notes replaces nothing; Import and Demo are undone by Ctrl+Z; the kept text stays", async () => {
    const page = await openPage();
    const mine = "len:100;c;e;g";
    await typeText(page, mine);
    await page.click(".import summary");
    // Empty, a song text, only pauses, past the image limit.
    for (const ringtone of ["", "len:200;c;e", "t:d=4:p,p", "t:d=1,o=5,b=1:" + "c.,".repeat(1200)]) {
      await page.fill("#rtttl", ringtone);
      await page.click("#import");
      assert.equal(await page.inputValue("#song"), mine);
      assert.match(await page.locator("#rtttl-warnings li").first().textContent(), /^Nothing imported/);
    }
    const undo = async () => {
      await page.focus("#song");
      await page.keyboard.press("Control+Z");
      assert.equal(await page.inputValue("#song"), mine);
    };
    await page.fill("#rtttl", "t:d=8,o=5,b=150:c,e,g");
    await page.click("#import");
    assert.equal(await page.inputValue("#song"), "len:200;oct:3;c;e;g");
    await undo();
    await page.click("#demo");
    assert.equal(await page.inputValue("#song"), demoText());
    await undo();
    // The demo is not kept for the next visit; its notice's Undo works as Ctrl+Z.
    await page.click("#demo");
    await page.reload();
    await page.evaluate(() => window.tuvello.ready);
    assert.equal(await page.inputValue("#song"), mine);
    await page.click("#demo");
    await page.click("#notice button");
    assert.equal(await page.inputValue("#song"), mine);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test("shows each song, 200,000 notes or 100,000 warnings too, and no other song's picture", async () => {
    const page = await openPage();
    await page.fill("#song", "len:20;" + "c;e;".repeat(100000));
    await page.waitForFunction(() => /^200000 notes/.test(document.getElementById("summary").value), null, {
      timeout: 30000,
    });
    assert.ok((await page.locator("#roll .axis text").allTextContents()).includes("3600 s"));
    const bars = await page.locator("#roll rect.note[data-index]").count();
    assert.ok(bars >= 2 && bars <= 2200, `${bars} bars`); // at most a bar per pixel column and row
    await page.fill("#song", "x;".repeat(100000));
    await page.waitForFunction(() => /\(100000\)/.test(document.getElementById("warning-heading").textContent), null, {
      timeout: 30000,
    });
    assert.equal(await page.locator("#backdrop mark.warn").count(), 2000); // the first 2,000
    assert.equal(await page.locator("#warnings li").count(), 501); // 500 and a line for the others
    // A picture that cannot be drawn leaves none.
    await page.evaluate(() => {
      Math.log2 = () => {
        throw new Error("no pitch");
      };
    });
    await page.fill("#song", "c;e");
    await page.waitForFunction(() => /^2 notes/.test(document.getElementById("summary").value));
    assert.equal(await page.locator("#roll svg").count(), 0);
    assert.match(await page.textContent("#roll"), /no pitch/);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test("the notation panel says what the README's table says", async () => {
    const page = await openPage();
    const readme = readFileSync(new URL("../../README.md", import.meta.url), "utf8");
    const table = readme.slice(readme.indexOf("| key | effect |"));
    const rows = table.slice(0, table.indexOf("\n\n")).split("\n").slice(2);
    const documented = rows.map((row) => {
      const cells = row.split("|").slice(1, -1).map((c) => c.trim());
      return [[...cells[0].matchAll(/`([^`]+)`/g)].map((m) => m[1]).join(" "), cells[2], cells[3]];
    });
    await page.click("#notation-link");
    assert.equal(await page.getAttribute("#notation", "open"), "");
    const shown = await page.$$eval("#notation tbody tr", (trs) =>
      trs.map((tr) => {
        const td = [...tr.children].map((c) => c.textContent.replace(/\s+/g, " ").trim());
        return [[...tr.children[0].querySelectorAll("code")].map((c) => c.textContent).join(" "), td[2], td[3]];
      }),
    );
    assert.deepEqual(shown, documented);
    assert.ok(documented.length >= 7);
    assert.match(await page.textContent("#notation"), /h is B, b is B flat[\s\S]*pitch multiplier minus one/);
    await page.close();
  });

  test("a share link opens its song and leaves the kept text alone", async () => {
    const page = await openPage();
    const shared = "len:150;c;\u00e9;# %;h";
    await typeText(page, shared);
    await page.click("#share");
    const link = await page.getAttribute("#notice a", "href");
    assert.ok(link.endsWith("#song=len:150;c;%C3%A9;%23%20%25;h"), link);
    const mine = "len:100;c;e;g";
    await typeText(page, mine);
    await page.click("#play"); // the text is kept at once before playing
    // Opened in a new tab, and in this one, where it replaces the text as one step of undo.
    const opened = await openPage(link);
    assert.equal(await opened.inputValue("#song"), shared);
    assert.equal(await opened.evaluate(() => location.hash), "");
    await opened.click("#notice button"); // back to my text
    assert.equal(await opened.inputValue("#song"), mine);
    await opened.goto(link);
    // Reloaded once the page has opened the link and dropped its fragment.
    await opened.evaluate(() => window.tuvello.ready);
    await opened.reload();
    await opened.evaluate(() => window.tuvello.ready);
    assert.equal(await opened.inputValue("#song"), mine);
    await page.goto(link);
    await page.waitForFunction((t) => document.getElementById("song").value === t, shared);
    await page.focus("#song");
    await page.keyboard.press("Control+Z");
    assert.equal(await page.inputValue("#song"), mine);
    assert.deepEqual([...page.errors, ...opened.errors], []);
    await opened.close();
    await page.close();
  });

  test("Download WAV saves exactly the native image of the text", async () => {
    const page = await openPage();
    const text = "len:120;vol:60;dec:1;c;e;g;pipe:1;oct:1;c;p;x;h";
    await typeText(page, text);
    const [download] = await Promise.all([page.waitForEvent("download"), page.click("#download")]);
    assert.equal(download.suggestedFilename(), "song.wav");
    const saved = join(artifacts, "download.wav");
    await download.saveAs(saved);
    assert.ok(readFileSync(saved).equals(nativeImage(text)));
    await page.close();
  });

  test("Export RTTTL and Download MIDI give the native library's ringtone and file, with warnings", async () => {
    const page = await openPage();
    const text = "len:200;vol:50;c;e;pipe:1;g;oct:2;c";
    await typeText(page, text);
    await page.click("#export-rtttl");
    const [rtttl, warnings] = native("export_rtttl", text, "song");
    assert.equal(await page.inputValue("#rtttl-out"), rtttl.toString());
    const shown = page.locator("#export-warnings button");
    assert.deepEqual(await shown.allTextContents(), warnings.map((w) => w[4]));
    await shown.nth(2).click(); // selects its command
    assert.equal(await page.evaluate(() => {
      const s = document.getElementById("song");
      return s.value.slice(s.selectionStart, s.selectionEnd);
    }), "oct:2");
    const [ringtone] = await Promise.all([page.waitForEvent("download"), page.click("#rtttl-save")]);
    assert.equal(readFileSync(await ringtone.path(), "utf8"), rtttl.toString());
    const [midi] = await Promise.all([page.waitForEvent("download"), page.click("#download-midi")]);
    assert.equal(midi.suggestedFilename(), "song.mid");
    assert.ok(readFileSync(await midi.path()).equals(native("export_midi", text)[0]));
    assert.match(await page.textContent("#notice"), /^song\.mid: command 5 'pipe:1' turns on the pipe mode/);
    await typeText(page, "c"); // the ringtone of another text goes
    await page.waitForFunction(() => document.getElementById("ringtone-out").hidden);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test("a MIDI file or ringtones, chosen or dropped, import as the Import box does", async () => {
    const page = await openPage();
    const mine = "len:100;c;e;g";
    await typeText(page, mine);
    const midi = native("export_midi", "len:250;vol:60;c;oct:1;e;p;g")[0];
    const [fromMidi] = native("midi", midi, 0, 0, 0, 0);
    // By its header, whatever its name.
    await page.setInputFiles("#file", { name: "song.txt", mimeType: "text/plain", buffer: midi });
    await page.waitForFunction((t) => document.getElementById("song").value === t, fromMidi.toString());
    await page.focus("#song");
    await page.keyboard.press("Control+Z");
    assert.equal(await page.inputValue("#song"), mine);
    const drop = (name, content) =>
      page.evaluate(
        ([name, content]) => {
          const data = new DataTransfer();
          data.items.add(new File([content], name));
          document.getElementById("roll").dispatchEvent(new DragEvent("drop", { dataTransfer: data, bubbles: true, cancelable: true }));
        },
        [name, content],
      );
    // Nothing replaced: no ringtone, no notes, a broken MIDI file.
    for (const [name, content] of [["a.rtttl", "# none\n\n"], ["b.rtttl", "t:d=4:p,p"], ["c.mid", "MThd\0\0"]]) {
      await page.evaluate(() => document.getElementById("rtttl-warnings").replaceChildren());
      await drop(name, content);
      await page.waitForFunction(() => document.querySelector("#rtttl-warnings li"));
      assert.match(await page.locator("#rtttl-warnings li").first().textContent(), /^Nothing imported/, name);
      assert.equal(await page.inputValue("#song"), mine);
    }
    const tunes = "# two\nA:d=8,o=5,b=150:c,e,x\r\nB:d=4:c\n";
    await drop("tunes.txt", tunes);
    await page.waitForFunction((t) => document.getElementById("song").value !== t, mine);
    const [first, warnings] = native("rtttl", "A:d=8,o=5,b=150:c,e,x", 0, 0);
    assert.equal(await page.inputValue("#song"), first.toString());
    assert.deepEqual(await page.locator("#rtttl-warnings li").allTextContents(), warnings.map((w) => `line 2, byte ${w[1] + 1}: ${w[4]}`));
    assert.match(await page.textContent("#notice"), /'A', the first of 2 in tunes\.txt/);
    await page.click("#notice button");
    assert.equal(await page.inputValue("#song"), mine);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test("runs the SIMD module, or the scalar one where the engine rejects SIMD, with the same images", async () => {
    const moduleSize = (name) => readFileSync(new URL(`../dist/${name}`, import.meta.url)).length;
    const texts = ["c", "len:500;vol:90;c;pipe;e;dec:1;g;oct:3;a;h", "len:20;dec:1;vol:5;c;d;e"];
    for (const [simd, name] of [[true, "tuvello-simd.wasm"], [false, "tuvello.wasm"]]) {
      const page = await browser.newPage();
      // Which module the page compiles, told by its size; without SIMD, the
      // engine's validation of the page's SIMD probe fails.
      await page.addInitScript((simd) => {
        const compile = WebAssembly.compile;
        window.compiledSizes = [];
        WebAssembly.compile = (bytes) => (window.compiledSizes.push(bytes.byteLength), compile(bytes));
        if (!simd) WebAssembly.validate = () => false;
      }, simd);
      await page.goto(pageUrl);
      await page.evaluate(() => window.tuvello.ready);
      assert.deepEqual(await page.evaluate(() => window.compiledSizes), [moduleSize(name)]);
      for (const text of texts) {
        const image = await page.evaluate((t) => Array.from(window.tuvello.render(t)), text);
        assert.ok(Buffer.from(image).equals(nativeImage(text)), `${name}: ${text}`);
      }
      await page.close();
    }
  });

  test("fits a phone-sized screen without sideways scrolling", async () => {
    const page = await openPage();
    await page.setViewportSize({ width: 390, height: 844 });
    const cdp = await browser.newCDPSession(page);
    await cdp.send("Emulation.setTouchEmulationEnabled", { enabled: true, maxTouchPoints: 5 });
    await page.waitForTimeout(200);
    assert.equal(await page.getByText("plays or stops").isVisible(), false); // no Ctrl+Enter on a touch screen
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
    assert.ok(overflow <= 0, `the page is ${overflow} px wider than the screen`);
    const box = await page.locator("#roll svg").boundingBox();
    assert.ok(box.width <= 390 && box.width > 300);
    await page.screenshot({ path: join(artifacts, "playground-phone.png"), fullPage: true });
    await page.close();
  });
});
