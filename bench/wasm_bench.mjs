// SPDX-License-Identifier: MIT
// The WebAssembly modules against the native library, on the same texts in
// one run: native TUVELLO_CreateSong against the npm package's render() in
// Node.js and the same in Debian's Chromium (playwright-core from
// web/node_modules, never a downloaded browser), each with the SIMD module and
// the scalar one; and the image read through a 64 KiB buffer
// (TUVELLO_OpenSong, TUVELLO_ReadSong) in all three, which leaves out the
// image's fresh memory, as does render(text, { into }) into one array for
// every call (the tone only). Targets take turns, text by text, round by round; each
// figure is the best round's time per sample of the image, on the CPU of the
// thread that renders (a busy machine stretches the wall clock far more) and
// on the wall clock. Ratios are CPU times over the native one.
//
// usage (from the source tree, after building the playground and
// wasm_bench_native, and 'npm ci' in web/):
//   node bench/wasm_bench.mjs [--native build/bench/wasm_bench_native]
//       [--chromium /usr/bin/chromium] [--rounds 5] [--json wasm.json]
//       [--compare other.wasm]
// --compare times render(text, { into }) with another module too (a build of
// the SIMD module from another commit, say), taking turns with this one on
// every text, and prints the two side by side.
// Exits 1 when a goal is missed: render() with the SIMD module within 2.5x of
// native TUVELLO_CreateSong on the 200 s tone, in Node.js and in Chromium.
import { spawn } from "node:child_process";
import { existsSync, readFileSync, readdirSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { cpus } from "node:os";
import { createInterface } from "node:readline";
import { parseArgs } from "node:util";

const here = new URL(".", import.meta.url);
const { values: options } = parseArgs({
  options: {
    native: { type: "string", default: new URL("../build/bench/wasm_bench_native", here).pathname },
    chromium: { type: "string", default: "/usr/bin/chromium" },
    rounds: { type: "string", default: "5" },
    json: { type: "string" },
    compare: { type: "string" },
  },
});
const rounds = Number(options.rounds);
const GOAL = 2.5;

// name, text, renders per turn (each turn some tens of milliseconds)
const TEXTS = [
  ["tone, 200 s (400 notes of 500 ms)", "len:500;" + "a;".repeat(400), 3],
  ["pipe, 200 s", "len:500;pipe:1;" + "a;".repeat(400), 3],
  ["decay, 200 s", "len:500;dec:1;" + "a;".repeat(400), 3],
  ["10000 notes of 20 ms, 200 s", "len:20;vol:80;" + "c;e;g;p;a;h;d;f;".repeat(1250), 3],
  ["13 notes of 500 ms", "len:500;c;d;e;f;g;a;h;c;d;e;f;g;a", 60],
];
const TONE = TEXTS[0][0];
const HOSTS = ["node", "chromium"];
const MODULES = ["simd", "scalar"];
const TARGETS = ["native", ...HOSTS.flatMap((h) => MODULES.map((m) => `${h} ${m}`))];

// --- native: a helper process answering one request a line ------------------------
if (!existsSync(options.native)) throw new Error(`no ${options.native}: build the target wasm_bench_native`);
const native = spawn(options.native, [], { stdio: ["pipe", "pipe", "inherit"] });
const answers = createInterface({ input: native.stdout })[Symbol.asyncIterator]();
async function ask(request) {
  native.stdin.write(request + "\n");
  const { value } = await answers.next();
  if (value === undefined || value === "failed") throw new Error(`native helper: ${request.slice(0, 40)}: ${value}`);
  if (value === "unsupported") return null;
  const [wall, cpu, samples] = value.split(" ").map(Number);
  return { wall, cpu, samples };
}

// --- what both engines run: the package's render() and a reader loop -----------
// Instantiates a module as the package's core does, for the reader, which the
// package does not expose: text in, then the image through 64 KiB, counted.
async function instantiateReader(bytes) {
  const module = await WebAssembly.compile(bytes);
  const imports = { tuvello: { note() {}, warning() {} } };
  for (const entry of WebAssembly.Module.imports(module)) {
    if (entry.module === "tuvello") continue;
    imports[entry.module] ??= {};
    imports[entry.module][entry.name] = () => 52; // ENOSYS: the library reads and writes no files
  }
  const { exports: x } = await WebAssembly.instantiate(module, imports);
  x._initialize();
  const buffer = x.malloc(1 << 16);
  return (text, count) => {
    const bytes = new TextEncoder().encode(text);
    const address = x.malloc(bytes.length + 1);
    new Uint8Array(x.memory.buffer, address, bytes.length + 1).set(bytes);
    new Uint8Array(x.memory.buffer)[address + bytes.length] = 0;
    let size = 0;
    for (let i = 0; i < count; ++i) {
      const reader = x.TUVELLO_OpenSong(address);
      size = 0;
      for (let n; (n = x.TUVELLO_ReadSong(reader, buffer, 1 << 16)) > 0; ) size += n;
      x.TUVELLO_CloseSong(reader);
    }
    x.free(address);
    return size;
  };
}
// Fresh memory of `bytes`, written once, `count` times: the first touch that
// the returned image costs.
function touch(bytes, count) {
  for (let i = 0; i < count; ++i) new Uint8Array(bytes).fill(1);
}
function timed(fn) {
  // Inside Chromium: wall time only; the caller reads the renderer's CPU time.
  const t0 = performance.now();
  fn();
  return (performance.now() - t0) * 1e6;
}

const moduleBytes = {
  simd: readFileSync(new URL("../web/dist/tuvello-simd.wasm", here)),
  scalar: readFileSync(new URL("../web/dist/tuvello.wasm", here)),
};
const compared = options.compare ? readFileSync(options.compare) : null;

// --- Node.js: the npm package, both modules --------------------------------------------
const { load } = await import(new URL("../web/src/index.js", here));
const { instantiateTuvello } = await import(new URL("../web/src/core.js", here));
const nodeApis = { simd: await load({ simd: true }), scalar: await load({ simd: false }) };
if (compared) nodeApis.compare = await instantiateTuvello(compared);
const nodeReaders = {
  simd: await instantiateReader(moduleBytes.simd),
  scalar: await instantiateReader(moduleBytes.scalar),
};
// The process's CPU time: after the warm-up round its other threads are idle.
const nodeCpu = () => {
  const u = process.cpuUsage();
  return (u.user + u.system) * 1000;
};
function inNode(fn) {
  const cpu0 = nodeCpu();
  const wall = timed(fn);
  return { wall, cpu: nodeCpu() - cpu0 };
}
// render(text, { into }) with one array for every call: no fresh memory.
const nodeInto = { array: new Uint8Array(0) };
const node = {
  render: (which, text, count) => inNode(() => { for (let i = 0; i < count; ++i) nodeApis[which].render(text); }),
  renderInto: (which, text, count) =>
    inNode(() => {
      for (let i = 0; i < count; ++i) {
        const image = nodeApis[which].render(text, { into: nodeInto.array });
        if (image.buffer !== nodeInto.array.buffer) nodeInto.array = image;
      }
    }),
  stream: (which, text, count) => inNode(() => nodeReaders[which](text, count)),
  touch: (bytes, count) => inNode(() => touch(bytes, count)),
  image: (which, text) => nodeApis[which].render(text),
};

// --- Chromium: a blank page with the package's core, both modules and the reader --------
const requireFromWeb = createRequire(new URL("../web/package.json", here));
const { chromium } = requireFromWeb("playwright-core");
const browser = await chromium.launch({
  executablePath: options.chromium,
  headless: true,
  args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking", "--disable-component-update",
         "--no-first-run"],
});
const page = await browser.newPage();
const core = readFileSync(new URL("../web/src/core.js", here), "utf8").replace(/^export /gm, "");
const base64 = (name) => moduleBytes[name].toString("base64");
await page.addScriptTag({
  content: `${core}
${instantiateReader.toString()}
${touch.toString()}
${timed.toString()}
window.benchReady = (async () => {
  window.apis = {
    simd: await instantiateTuvello(decodeBase64("${base64("simd")}")),
    scalar: await instantiateTuvello(decodeBase64("${base64("scalar")}")),
  };
  ${compared ? `window.apis.compare = await instantiateTuvello(decodeBase64("${compared.toString("base64")}"));` : ""}
  window.readers = {
    simd: await instantiateReader(decodeBase64("${base64("simd")}")),
    scalar: await instantiateReader(decodeBase64("${base64("scalar")}")),
  };
  window.pageChoice = chooseModule({ simd: "simd", scalar: "scalar" });
})();`,
});
await page.evaluate(() => window.benchReady);
const pageChoice = await page.evaluate(() => window.pageChoice);

// The CPU time of a thread so far, in ns, from Linux's scheduler statistics
// (exact for a thread that is not running, as the page's is between calls).
const threadCpu = (pid) => {
  try {
    return Number(readFileSync(`/proc/${pid}/task/${pid}/schedstat`, "latin1").split(" ")[0]);
  } catch {
    return NaN;
  }
};
// The renderer processes: descendants of this process (playwright starts the
// browser as our child) with --type=renderer. The page's is one of them; the
// CPU time of all their main threads is the page's work and the little the
// others do meanwhile.
function renderers() {
  const parent = new Map();
  for (const d of readdirSync("/proc").filter((d) => /^\d+$/.test(d))) {
    try {
      const stat = readFileSync(`/proc/${d}/stat`, "latin1");
      parent.set(Number(d), Number(stat.slice(stat.lastIndexOf(")") + 2).split(" ")[1]));
    } catch {}
  }
  const below = (pid) =>
    pid === process.pid || (parent.has(pid) && pid !== parent.get(pid) && below(parent.get(pid)));
  return [...parent.keys()].filter((pid) => {
    try {
      return below(pid) && readFileSync(`/proc/${pid}/cmdline`, "latin1").includes("--type=renderer");
    } catch {
      return false;
    }
  });
}
const rendererPids = renderers();
const rendererCpu = () => rendererPids.reduce((sum, pid) => sum + threadCpu(pid), 0);
async function inChromium(fn, args) {
  const cpu0 = rendererCpu();
  const wall = await page.evaluate(fn, args);
  return { wall, cpu: rendererCpu() - cpu0 };
}
const chromiumHost = {
  render: (which, text, count) =>
    inChromium(([w, t, c]) => timed(() => { for (let i = 0; i < c; ++i) window.apis[w].render(t); }), [which, text, count]),
  renderInto: (which, text, count) =>
    inChromium(([w, t, c]) => timed(() => {
      for (let i = 0; i < c; ++i) {
        const image = window.apis[w].render(t, { into: window.into });
        if (image.buffer !== window.into?.buffer) window.into = image;
      }
    }), [which, text, count]),
  stream: (which, text, count) =>
    inChromium(([w, t, c]) => timed(() => window.readers[w](t, c)), [which, text, count]),
  touch: (bytes, count) => inChromium(([b, c]) => timed(() => touch(b, c)), [bytes, count]),
  async image(which, text) {
    const encoded = await page.evaluate(([w, t]) => {
      const image = window.apis[w].render(t);
      let s = "";
      for (let i = 0; i < image.length; i += 0x8000) s += String.fromCharCode(...image.subarray(i, i + 0x8000));
      return btoa(s);
    }, [which, text]);
    return Buffer.from(encoded, "base64");
  },
};
const hosts = { node, chromium: chromiumHost };

// --- the run ------------------------------------------------------------------------
const best = new Map(); // `${way}\t${text}\t${target}` -> { wall, cpu } per sample
function keep(key, { wall, cpu }, count, samples) {
  const b = best.get(key) ?? { wall: Infinity, cpu: Infinity };
  best.set(key, { wall: Math.min(b.wall, wall / count / samples), cpu: Math.min(b.cpu, cpu / count / samples) });
}
const loops = {};
for (let round = 0; round <= rounds; ++round) {
  const counted = round > 0; // round 0 warms every engine up (compiling, tiering up)
  for (const [name, text, count] of TEXTS) {
    const n = await ask(`song ${count} ${text}`);
    if (!counted) {
      // Both modules in both engines give one image, of the native size (the
      // identity tests compare the bytes with the native library's).
      const reference = node.image("simd", text);
      if (reference.length !== 2 * n.samples + 44) throw new Error(`${name}: sizes differ`);
      for (const host of HOSTS) {
        for (const which of MODULES) {
          const image = await hosts[host].image(which, text);
          if (Buffer.compare(image, reference) !== 0) throw new Error(`${name}: ${host} ${which} differs`);
        }
      }
      continue;
    }
    keep(`render\t${name}\tnative`, n, count, n.samples);
    const s = await ask(`stream ${count} ${text}`);
    keep(`stream\t${name}\tnative`, s, count, s.samples);
    for (const host of HOSTS) {
      for (const which of MODULES) {
        keep(`render\t${name}\t${host} ${which}`, await hosts[host].render(which, text, count), count, n.samples);
        keep(`stream\t${name}\t${host} ${which}`, await hosts[host].stream(which, text, count), count, n.samples);
      }
    }
    if (compared) {
      for (const host of HOSTS) {
        for (const which of ["simd", "compare"]) {
          keep(`into\t${name}\t${host} ${which}`, await hosts[host].renderInto(which, text, count), count, n.samples);
        }
      }
    }
    if (name === TONE) {
      const bytes = 2 * n.samples + 44;
      keep("touch\tnative", await ask(`touch ${count} ${bytes}`), count, n.samples);
      for (const host of HOSTS) keep(`touch\t${host}`, await hosts[host].touch(bytes, count), count, n.samples);
      for (const host of HOSTS) keep(`into\t${host}`, await hosts[host].renderInto("simd", text, count), count, n.samples);
    }
  }
  for (const [kernel, label] of [[0, "SSE2"], [1, "AVX2"], [2, "AVX-512"], [3, "portable"]]) {
    const r = await ask(`loop ${kernel} 200`);
    if (r && counted) {
      const b = loops[label] ?? { wall: Infinity, cpu: Infinity };
      loops[label] = { wall: Math.min(b.wall, r.wall / 200 / r.samples), cpu: Math.min(b.cpu, r.cpu / 200 / r.samples) };
    }
  }
}
native.stdin.end();
const chromiumVersion = browser.version();
await browser.close();

// --- the report ---------------------------------------------------------------------
const cpuinfo = readFileSync("/proc/cpuinfo", "latin1");
const cpuName = cpuinfo.match(/^model name\s*:\s*(.*)$/m)?.[1] ?? cpus()[0]?.model;
const flags = cpuinfo.match(/^flags\s*:(.*)$/m)?.[1].split(" ") ?? [];
const bestLoop = ["avx512f", "avx512dq", "avx512vl"].every((f) => flags.includes(f)) ? "AVX-512"
  : flags.includes("avx2") && flags.includes("fma") ? "AVX2" : "SSE2";
const get = (key) => best.get(key);
const format = (b) => `${b.cpu.toFixed(2)} (${b.wall.toFixed(2)})`;
console.log(`CPU: ${cpuName}, ${cpus().length} logical CPUs; native sample loop: ${bestLoop}; ` +
            `Node.js ${process.versions.node}; Chromium ${chromiumVersion}, which picks the ${pageChoice} module; ` +
            `best of ${rounds} rounds`);
console.log("ns per sample: CPU time of the rendering thread (wall clock in parentheses)");
const column = (s) => s.padStart(17);
const summary = { cpu: cpuName, nativeLoop: bestLoop, node: process.versions.node, chromium: chromiumVersion,
                  chromiumChoice: pageChoice, rounds, render: {}, stream: {}, touch: {}, loops };
for (const [way, title] of [["render", "render() / TUVELLO_CreateSong"], ["stream", "read through 64 KiB"]]) {
  console.log(`\n${title.padEnd(36)}` + TARGETS.map(column).join(""));
  for (const [name] of TEXTS) {
    console.log(name.padEnd(36) + TARGETS.map((t) => column(format(get(`${way}\t${name}\t${t}`)))).join(""));
    summary[way][name] = Object.fromEntries(TARGETS.map((t) => [t, get(`${way}\t${name}\t${t}`)]));
  }
}
const touches = ["native", ...HOSTS].map((h) => `${h} ${format(get(`touch\t${h}`))}`);
console.log(`\nfresh memory of the tone's image size, written once (native: a new mapping of 4 KiB pages; ` +
            `engines: new Uint8Array + fill, as render() returns the image): ` +
            touches.join(", "));
for (const h of ["native", ...HOSTS]) summary.touch[h] = get(`touch\t${h}`);

let ok = true;
console.log("\nratios of CPU time to native:");
for (const way of ["render", "stream"]) {
  for (const [name] of TEXTS) {
    const nat = get(`${way}\t${name}\tnative`).cpu;
    const ratios = TARGETS.slice(1).map((t) => `${t} ${(get(`${way}\t${name}\t${t}`).cpu / nat).toFixed(2)}x`);
    console.log(`  ${way.padEnd(7)} ${name.padEnd(36)}${ratios.join(", ")}`);
  }
}
for (const host of HOSTS) {
  const ratio = get(`render\t${TONE}\t${host} simd`).cpu / get(`render\t${TONE}\tnative`).cpu;
  const met = ratio <= GOAL;
  ok &&= met;
  console.log(`${host}, SIMD module, render() of the ${TONE}: ${ratio.toFixed(2)}x TUVELLO_CreateSong ` +
              `(${met ? "meets" : "MISSES"} <= ${GOAL}x)`);
}
// What render() costs once the image's memory is not new (the first call
// still allocates it).
summary.renderInto = {};
console.log(`render(text, { into }) into one array, SIMD module, ${TONE}: ` +
            HOSTS.map((h) => {
              summary.renderInto[h] = get(`into\t${h}`);
              return `${h} ${format(get(`into\t${h}`))} ns/sample, ` +
                     `${(get(`into\t${h}`).cpu / get(`render\t${TONE}\tnative`).cpu).toFixed(2)}x`;
            }).join("; "));
if (compared) {
  summary.compare = {};
  console.log(`\nrender(text, { into }), this SIMD module against ${options.compare}, ns/sample (CPU):`);
  for (const [name] of TEXTS) {
    summary.compare[name] = {};
    const line = HOSTS.map((host) => {
      const ours = get(`into\t${name}\t${host} simd`);
      const theirs = get(`into\t${name}\t${host} compare`);
      summary.compare[name][host] = { ours, theirs };
      return `${host} ${ours.cpu.toFixed(2)} against ${theirs.cpu.toFixed(2)} (${(ours.cpu / theirs.cpu).toFixed(2)}x)`;
    });
    console.log(`  ${name.padEnd(36)}${line.join(", ")}`);
  }
}
if (loops.AVX2 && loops[bestLoop]) {
  // The native calls with the AVX2 loop, per sample: the call less the time of
  // its own loop plus the AVX2 loop's (the loops timed alone on a 500 ms note).
  console.log(`sample loops alone, ns/sample (CPU): ` +
              Object.entries(loops).map(([k, v]) => `${k} ${v.cpu.toFixed(3)}`).join(", "));
  for (const way of ["render", "stream"]) {
    const withAvx2 = get(`${way}\t${TONE}\tnative`).cpu - loops[bestLoop].cpu + loops.AVX2.cpu;
    summary[`${way}NativeWithAvx2`] = withAvx2;
    console.log(`${way}, against native with the AVX2 loop (${withAvx2.toFixed(2)} ns/sample, estimated), ${TONE}: ` +
                HOSTS.map((h) => `${h} ${(get(`${way}\t${TONE}\t${h} simd`).cpu / withAvx2).toFixed(2)}x`).join(", "));
  }
}
if (options.json) writeFileSync(options.json, JSON.stringify(summary, null, 2) + "\n");
process.exit(ok ? 0 : 1);
