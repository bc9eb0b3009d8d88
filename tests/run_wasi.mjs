// SPDX-License-Identifier: MIT
// Runs a WASI program (a WebAssembly module with a main) in Node.js with the
// given arguments, its output on ours, and ends with its exit status.
// usage: node tests/run_wasi.mjs PROGRAM.wasm [ARGUMENT...]
import { readFileSync } from "node:fs";
import { WASI } from "node:wasi";

process.removeAllListeners("warning"); // node:wasi is marked experimental in Node.js 20
const [program, ...args] = process.argv.slice(2);
const wasi = new WASI({ version: "preview1", args: [program, ...args], returnOnExit: true });
const module = await WebAssembly.compile(readFileSync(program));
const instance = await WebAssembly.instantiate(module, wasi.getImportObject());
process.exitCode = wasi.start(instance);
