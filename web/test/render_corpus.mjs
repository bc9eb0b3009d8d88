// SPDX-License-Identifier: MIT
// Writes the image of every line of a corpus to standard output, back to back,
// as the native test host does, through the npm package's render().
// usage: node web/test/render_corpus.mjs CORPUS > images.bin
import { readFileSync, writeSync } from "node:fs";
import { render } from "../src/index.js";

const lines = readFileSync(process.argv[2]).toString("latin1").split("\n");
if (lines.at(-1) === "") lines.pop();
for (const line of lines) {
  const image = render(Buffer.from(line, "latin1"));
  for (let done = 0; done < image.length; ) done += writeSync(1, image, done);
}
