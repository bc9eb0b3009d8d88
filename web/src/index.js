// SPDX-License-Identifier: MIT
// tuvello for Node.js and bundlers: the exact song images of the C library,
// compiled to WebAssembly and inlined, so nothing is fetched at run time.
import { decodeBase64, instantiateTuvello } from "./core.js";
import wasmBase64 from "../dist/tuvello-wasm.js";

const api = await instantiateTuvello(decodeBase64(wasmBase64));

/** Resolves once the module is ready; with this module loaded, it already is. */
export const ready = Promise.resolve();
export const { render, notes, check, fromRtttl, fromRtttlCollection, toRtttl, fromMidi, toMidi, version } = api;
export default api;
