// SPDX-License-Identifier: MIT
// tuvello for Node.js and bundlers: the exact song images of the C library,
// compiled to WebAssembly and inlined, so nothing is fetched at run time.
import { chooseModule, decodeBase64, instantiateTuvello } from "./core.js";

// Only the chosen build's file is loaded.
const modules = {
  simd: () => import("../dist/tuvello-simd-wasm.js"),
  scalar: () => import("../dist/tuvello-wasm.js"),
};

/** A new instance of the library: the SIMD build where the engine runs it, unless `simd` says which. */
export async function load(options) {
  const { default: base64 } = await chooseModule(modules, options)();
  return instantiateTuvello(decodeBase64(base64));
}

const api = await load();

/** Resolves once the module is ready; with this module loaded, it already is. */
export const ready = Promise.resolve();
export const { render, notes, check, fromRtttl, fromRtttlCollection, toRtttl, fromMidi, toMidi, version } = api;
export default api;
