// SPDX-License-Identifier: MIT
// Converts one RTTTL ringtone through the npm package's fromRtttl() and prints
// what `tuvello import RINGTONE` prints: the song text on standard output, each
// warning on standard error as <argument>:1:COLUMN (a one-line ringtone).
// usage: node web/test/convert_rtttl.mjs RINGTONE
import { fromRtttl } from "../src/index.js";

const { text, warnings } = fromRtttl(process.argv[2]);
for (const w of warnings) {
  process.stderr.write(`<argument>:1:${w.textOffset + 1}: warning: ${w.message}\n`);
}
process.stdout.write(`${text}\n`);
