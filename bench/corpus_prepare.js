// Writes the mails of the unpacked corpus package as one file each with CR LF line ends.
//
//   node corpus_prepare.js PACKAGE_DATA_DIR OUT_DIR
//
// The package holds every mail twice: NNNNN.<md5>.json ({id, group, checksum, text}) and
// the original bytes beside it as NNNNN.<md5>.txt. The JSON text has bytes that were not
// UTF-8 replaced by U+FFFD, so the original bytes are used where present and the JSON
// text only where they are missing. Output: OUT_DIR/<group>/NNNNN.<md5>.eml.
'use strict';
const fs = require('fs');
const path = require('path');

const [dataDir, outDir] = process.argv.slice(2);
if (!dataDir || !outDir) {
  console.error('usage: node corpus_prepare.js PACKAGE_DATA_DIR OUT_DIR');
  process.exit(2);
}

const groups = ['easy-ham-1', 'easy-ham-2', 'hard-ham-1', 'spam-1', 'spam-2'];
let written = 0;
for (const group of groups) {
  const from = path.join(dataDir, group);
  const to = path.join(outDir, group);
  fs.mkdirSync(to, { recursive: true });
  for (const name of fs.readdirSync(from).filter((n) => n.endsWith('.json')).sort()) {
    const base = name.slice(0, -'.json'.length);
    const original = path.join(from, base + '.txt');
    let text;
    if (fs.existsSync(original)) {
      text = fs.readFileSync(original).toString('latin1');
    } else {
      const entry = JSON.parse(fs.readFileSync(path.join(from, name), 'utf8'));
      if (typeof entry.text !== 'string') throw new Error(`${group}/${name}: no text`);
      text = Buffer.from(entry.text, 'utf8').toString('latin1');
    }
    const crlf = text.replace(/\r?\n/g, '\r\n');
    fs.writeFileSync(path.join(to, base + '.eml'), Buffer.from(crlf, 'latin1'));
    ++written;
  }
}
console.log(`wrote ${written} mails to ${outDir}`);
