// SPDX-License-Identifier: MIT
// Converts one RTTTL ringtone through the npm package's fromRtttl() and prints
// what `tuvello import RINGTONE` prints: the song text on standard output, each
// warning on standard error as <argument>:1:COLUMN (a one-line ringtone).
// usage: node web/test/convert_rtttl.mjs [--octave-shift auto|none|N] RINGTONE
import { fromRtttl } from "../src/index.js";

const args = process.argv.slice(2);
const options = {};
if (args[0] === "--octave-shift") {
  const value = args[1];
  options.octaveShift = /^-?\d+$/.test(value) ? Number(value) : value;
  args.splice(0, 2);
}
const { text, warnings } = fromRtttl(args[0], options);
for (const w of warnings) {
  process.stderr.write(`<argument>:1:${w.textOffset + 1}: warning: ${w.message}\n`);
}
process.stdout.write(`${text}\n`);
