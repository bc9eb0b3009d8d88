// SPDX-License-Identifier: MIT
// Writes the image of every line of a corpus to standard output, back to back,
// as the native test host does, through the npm package's render() on the
// module named: simd or scalar (the two builds the package ships).
// usage: node web/test/render_corpus.mjs simd|scalar CORPUS > images.bin
import { readFileSync, writeSync } from "node:fs";
import { load } from "../src/index.js";

const [which, corpus] = process.argv.slice(2);
if (which !== "simd" && which !== "scalar") throw new Error("usage: render_corpus.mjs simd|scalar CORPUS");
const { render } = await load({ simd: which === "simd" });
const lines = readFileSync(corpus).toString("latin1").split("\n");
if (lines.at(-1) === "") lines.pop();
for (const line of lines) {
  const image = render(Buffer.from(line, "latin1"));
  for (let done = 0; done < image.length; ) done += writeSync(1, image, done);
}
