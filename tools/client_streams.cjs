// Writes a receipt with each point-of-sale client library installed in SCRATCH (see
// make_client_streams.sh) and what a printer prints of it: OUT/<library>.bin, and OUT/manifest.json
// with, per file, the library and its version, what the file holds, the text lines the printer
// prints (with their style), the symbols it prints (with their data), and the cuts.
//
//   node tools/client_streams.cjs SCRATCH OUT
//
// The expectations are written here beside the calls that make the bytes, as what a printer
// that follows the public ESC/POS reference prints of them. Where a library sends bytes that say
// something else than it meant (a size with its nibbles swapped, a length byte that is missing),
// the expectation is what the printer prints of those bytes, and the entry's note says why.
'use strict';

const fs = require('fs');
const path = require('path');
const { createRequire } = require('module');

const [scratch, out] = process.argv.slice(2);
if (!scratch || !out) {
    console.error('usage: client_streams.cjs SCRATCH OUT');
    process.exit(2);
}
const need = createRequire(path.join(path.resolve(scratch), 'package.json'));

function versionOf(name) {
    const file = path.join(path.resolve(scratch), 'node_modules', ...name.split('/'), 'package.json');
    return JSON.parse(fs.readFileSync(file, 'utf8')).version;
}

// ---- what a file must print ---------------------------------------------------------------------

// A receipt being described: the text lines and symbols, in the order they print.
class Expect {
    constructor() {
        this.lines = [];
        this.symbols = [];
    }
    // A run of text as it prints: font A or B, the size (1 to 8 each way), emphasis, underline
    // (0, 1 or 2 dots), white on black, condensed (where asked), and, where the line stands alone,
    // its alignment.
    text(text, style = {}) {
        const line = { text, font: 'A', width: 1, height: 1, bold: false, underline: 0, invert: false, ...style };
        this.lines.push(line);
        return this;
    }
    // A symbol the readers must read: kind (EAN13, EAN8, UPCA, UPCE, CODE39, CODE93, CODE128, ITF,
    // CODABAR, QR, PDF417, MAXICODE, DATABAR, DATABAR-EXPANDED) and its data as a reader gives it
    // (EAN and UPC with the check digit; CODABAR with its start and stop characters).
    symbol(kind, data, extra = {}) {
        this.symbols.push({ kind, data, ...extra });
        return this;
    }
}

// The check digit of an EAN or UPC number (without it).
function checkDigit(digits) {
    let sum = 0;
    for (let i = 0; i < digits.length; ++i) {
        const d = Number(digits[digits.length - 1 - i]);
        sum += i % 2 === 0 ? 3 * d : d;
    }
    return String((10 - (sum % 10)) % 10);
}
// The UPC-A number an eight-digit UPC-E (number system, six digits, check digit) stands for, without
// its check digit.
function upcEAsUpcA(e) {
    const [ns, d1, d2, d3, d4, d5, d6] = e.slice(0, 7);
    const body =
        d6 <= '2' ? `${d1}${d2}${d6}0000${d3}${d4}${d5}` :
        d6 === '3' ? `${d1}${d2}${d3}00000${d4}${d5}` :
        d6 === '4' ? `${d1}${d2}${d3}${d4}00000${d5}` : `${d1}${d2}${d3}${d4}${d5}0000${d6}`;
    return ns + body;
}

// The symbols every library is asked for where it offers them.
const EAN13 = '400638133393' + checkDigit('400638133393');
const EAN8 = '9638507' + checkDigit('9638507');
const UPCA = '03600029145' + checkDigit('03600029145');
const UPCE_BODY = '0425261';
const UPCE = UPCE_BODY + checkDigit(upcEAsUpcA(UPCE_BODY + '0'));
const CODE39 = 'PELLORY-39';
const CODE93 = 'PELLORY93';
const CODE128 = 'Pellory-128';
const ITF = '12345678';
const CODABAR = 'A40156B';
const CODE93_LONG = 'PELLORY-93/ESCPOS';
const CODE128_LONG = 'Pellory-128 node';
const QR = 'https://pellory.example/r/0042';
const PDF417 = 'Pellory PDF417 0042';

// A small picture to print: a QR code of `text` as a PNG (3 dots a module), so that the picture
// reads back as a symbol.
function qrPng(text) {
    return need('qr-image').imageSync(text, { type: 'png', size: 3, margin: 2 });
}
function pngToRgba(png) {
    const { PNG } = need('pngjs');
    const p = PNG.sync.read(png);
    return { width: p.width, height: p.height, data: p.data };
}

// ---- node-thermal-printer -------------------------------------------------------------------------

async function nodeThermalPrinter() {
    const { ThermalPrinter, PrinterTypes, CharacterSet } = need('node-thermal-printer');
    const p = new ThermalPrinter({ type: PrinterTypes.EPSON, width: 48, interface: '/dev/null' });
    const e = new Expect();
    p.alignCenter();
    p.println('node-thermal-printer');
    e.text('node-thermal-printer', { align: 'center' });
    p.alignLeft();
    p.bold(true);
    p.println('Bold line');
    p.bold(false);
    e.text('Bold line', { bold: true, align: 'left' });
    p.underline(true);
    p.println('Underlined line');
    p.underline(false);
    e.text('Underlined line', { underline: 1 });
    p.underlineThick(true);
    p.println('Thick underline');
    p.underlineThick(false);
    e.text('Thick underline', { underline: 2 });
    p.invert(true);
    p.println('Inverted line');
    p.invert(false);
    e.text('Inverted line', { invert: true });
    p.alignRight();
    p.println('Right aligned');
    e.text('Right aligned', { align: 'right' });
    p.alignLeft();
    p.setTypeFontB();
    p.println('Font B line');
    p.setTypeFontA();
    e.text('Font B line', { font: 'B' });
    p.setTextDoubleHeight();
    p.println('Double height');
    e.text('Double height', { height: 2 });
    p.setTextDoubleWidth();
    p.println('Double width');
    e.text('Double width', { width: 2 });
    p.setTextQuadArea();
    p.println('Quad');
    e.text('Quad', { width: 2, height: 2 });
    p.setTextNormal();
    p.println('Normal again');
    e.text('Normal again');
    // setTextSize(height, width) writes GS ! with the height's nibble high, where the printer reads
    // the width: setTextSize(1, 2) sends GS ! 12, width 2 and height 3.
    p.setTextSize(1, 2);
    p.println('Size');
    e.text('Size', { width: 2, height: 3, note: 'setTextSize(1, 2) sends GS ! 12: width 2, height 3 (the library swaps the nibbles)' });
    p.setTextNormal();
    p.println('After size');
    e.text('After size', {
        note: 'setTextNormal sends ESC ! 0; of ESC ! and GS ! the one received last sets the size, so the line ' +
            'prints at normal size',
    });
    p.setTextSize(0, 0);
    p.leftRight('Left', 'Right');
    e.text('Left').text('Right');
    p.table(['One', 'Two', 'Three']);
    e.text('One').text('Two').text('Three');
    p.tableCustom([
        { text: 'Item', align: 'LEFT', width: 0.5 },
        { text: 'Qty', align: 'CENTER', width: 0.25, bold: true },
        { text: '9.99', align: 'RIGHT', cols: 8 },
    ]);
    e.text('Item').text('Qty', { bold: true }).text('9.99');
    p.drawLine();
    e.text('-'.repeat(48));
    p.setCharacterSet(CharacterSet.PC858_EURO);
    p.println('Euro: 5 €');
    e.text('Euro: 5 €');
    p.setCharacterSet(CharacterSet.PC857_TURKISH);
    p.println('Türkçe: ğüşıöç İ');
    e.text('Türkçe: ğüşıöç İ');
    p.setCharacterSet(CharacterSet.PC866_CYRILLIC2);
    p.println('Кириллица: Съешь');
    e.text('Кириллица: Съешь');
    p.setCharacterSet(CharacterSet.PC437_USA);
    p.newLine();
    p.alignCenter();
    const settings = { hriPos: 2, width: 2, height: 60 };
    p.printBarcode(EAN13.slice(0, 12), 67, settings);
    e.symbol('EAN13', EAN13);
    p.printBarcode(EAN8.slice(0, 7), 68, settings);
    e.symbol('EAN8', EAN8);
    p.printBarcode(UPCA.slice(0, 11), 65, settings);
    e.symbol('UPCA', UPCA);
    p.printBarcode(UPCE, 66, settings);
    e.symbol('UPCE', UPCE);
    p.printBarcode(CODE39, 69, settings);
    e.symbol('CODE39', CODE39);
    p.printBarcode(ITF, 70, settings);
    e.symbol('ITF', ITF);
    p.printBarcode(CODABAR, 71, settings);
    e.symbol('CODABAR', CODABAR);
    p.printBarcode(CODE93, 72, settings);
    e.symbol('CODE93', CODE93);
    p.printBarcode(CODE128, 73, settings);
    e.symbol('CODE128', CODE128);
    p.code128('NTP code128', { width: 'SMALL', height: 60, text: 2 });
    e.symbol('CODE128', 'NTP code128', {
        note: 'code128() sends GS w with the word "SMALL" as its byte (NaN, 0): the printer keeps the module ' +
            'width it had',
    });
    p.printQR(QR, { cellSize: 4, correction: 'M', model: 2 });
    e.symbol('QR', QR);
    p.pdf417(PDF417, { rowHeight: 3, width: 2, correction: 1, columns: 0 });
    e.symbol('PDF417', PDF417);
    p.maxiCode('Pellory MaxiCode', { mode: 4 });
    e.symbol('MAXICODE', 'Pellory MaxiCode');
    await p.printImageBuffer(qrPng('NTP picture'));
    e.symbol('QR', 'NTP picture', { note: 'a picture (GS v 0 raster) of a QR code' });
    p.cut();
    return { bytes: p.getBuffer(), expect: e, cuts: 1 };
}

// ---- receipt-printer-encoder and esc-pos-encoder ---------------------------------------------------

// titleAlign: how the first line prints; pictureNote: why the picture, a QR code drawn as 24-dot
// bands of ESC *, does not read back on a 203-dot-per-inch printer.
function encoderReceipt(Encoder, name, options, titleAlign, pictureNote) {
    const enc = new Encoder({ language: 'esc-pos', columns: 48, errors: 'strict', ...options });
    const e = new Expect();
    enc.initialize();
    enc.align('center').line(name);
    e.text(name, titleAlign);
    enc.align('left');
    enc.bold(true).line('Bold line').bold(false);
    e.text('Bold line', { bold: true, align: 'left' });
    enc.underline(true).line('Underlined line').underline(false);
    e.text('Underlined line', { underline: 1 });
    enc.invert(true).line('Inverted line').invert(false);
    e.text('Inverted line', { invert: true });
    enc.align('right').line('Right aligned').align('left');
    e.text('Right aligned', { align: 'right' });
    enc.font('B').line('Font B line').font('A');
    e.text('Font B line', { font: 'B' });
    enc.width(2).line('Double width').width(1);
    e.text('Double width', { width: 2 });
    enc.height(2).line('Double height').height(1);
    e.text('Double height', { height: 2 });
    enc.size(3, 2).line('Size 3x2').size(1, 1);
    e.text('Size 3x2', { width: 3, height: 2 });
    enc.line('Normal again');
    e.text('Normal again');
    enc.table(
        [{ width: 30, align: 'left' }, { width: 8, align: 'right' }, { width: 10, align: 'right' }],
        [['Apples', '2', '3.00'], ['Pears', '10', '12.50']]);
    e.text('Apples').text('2').text('3.00').text('Pears').text('10').text('12.50');
    enc.rule();
    enc.codepage('auto');
    enc.line('Euro: 5 €');
    e.text('Euro: 5 €');
    enc.line('Türkçe: ğüşıöç İ');
    e.text('Türkçe: ğüşıöç İ');
    enc.line('Кириллица: Съешь');
    e.text('Кириллица: Съешь');
    enc.line('ｶﾀｶﾅ ﾃｽﾄ');
    e.text('ｶﾀｶﾅ ﾃｽﾄ');
    enc.codepage('cp437');
    enc.newline();
    enc.align('center');
    const bar = { height: 60, width: 2, text: 'below' };
    // Each symbology the library offers for the printer; one it refuses (it throws) is left out.
    const barcode = (value, symbology, kind, data, extra) => {
        try {
            enc.barcode(value, symbology, bar);
        } catch (err) {
            refused.push(`${symbology}: ${err.message}`);
            return;
        }
        e.symbol(kind, data, extra);
    };
    const refused = [];
    barcode(EAN13.slice(0, 12), 'ean13', 'EAN13', EAN13);
    barcode(EAN8.slice(0, 7), 'ean8', 'EAN8', EAN8);
    barcode(UPCA.slice(0, 11), 'upca', 'UPCA', UPCA);
    barcode(UPCE, 'upce', 'UPCE', UPCE);
    barcode(CODE39, 'code39', 'CODE39', CODE39);
    barcode(ITF, 'itf', 'ITF', ITF);
    barcode(CODABAR, 'codabar', 'CODABAR', CODABAR);
    barcode(CODE93, 'code93', 'CODE93', CODE93);
    barcode(CODE128, 'code128', 'CODE128', CODE128);
    barcode('(01)00012345678905', 'gs1-128', 'CODE128', '0100012345678905', {
        note: 'GS1-128 (GS k 74): the library leaves the parentheses out; a reader gives the data without them',
    });
    barcode('0001234567890', 'gs1-databar-omni', 'DATABAR', '00012345678905');
    barcode('(01)00012345678905(10)LOT42', 'gs1-databar-expanded', 'DATABAR-EXPANDED', '(01)00012345678905(10)LOT42');
    enc.qrcode(QR, { model: 2, size: 4, errorlevel: 'm' });
    e.symbol('QR', QR);
    enc.pdf417(PDF417, { width: 2, height: 3, columns: 0, errorlevel: 1 });
    e.symbol('PDF417', PDF417);
    enc.image(pngToRgba(qrPng(`${name} picture`)), 120, 120, 'threshold');
    e.symbol('QR', `${name} picture`, { prints: false, note: pictureNote });
    enc.cut('partial');
    return { bytes: Buffer.from(enc.encode()), expect: e, cuts: 1, refused };
}

// ---- receiptline ----------------------------------------------------------------------------------

function receiptline() {
    const rl = need('receiptline');
    const e = new Expect();
    const picture = qrPng('receiptline picture').toString('base64');
    const doc = [
        'receiptline',
        '"Bold line"',
        '_Underlined line_',
        '`Inverted line`',
        '|Left aligned',
        'Right aligned|',
        '^Double width',
        '^^Double height',
        '^^^Size 2',
        '^^^^Size 3',
        'Apples | 2 | 3.00',
        'Pears | 10 | 12.50',
        '---',
        'Euro: 5 €',
        'Кириллица: Съешь',
        '',
        `{c:${EAN13.slice(0, 12)};o:ean,2,60,hri}`,
        `{c:${EAN8.slice(0, 7)};o:ean,2,60,hri}`,
        `{c:${UPCA.slice(0, 11)};o:upc,2,60,hri}`,
        `{c:${UPCE.slice(0, 7)};o:upc,2,60,hri}`,
        `{c:${CODE39};o:code39,2,60,hri}`,
        `{c:${ITF};o:itf,2,60,hri}`,
        `{c:${CODABAR};o:codabar,2,60,hri}`,
        `{c:${CODE93};o:code93,2,60,hri}`,
        `{c:${CODE128};o:code128,2,60,hri}`,
        '{c:Code\\{128\\} braces;o:code128,2,60,hri}',
        `{c:${QR};o:qrcode,4,m}`,
        `{i:${picture}}`,
        '=',
    ].join('\n');
    e.text('receiptline', { align: 'center' })
        .text('Bold line', { bold: true, align: 'center' })
        .text('Underlined line', { underline: 2, align: 'center', note: 'receiptline underlines with ESC - 2' })
        .text('Inverted line', { invert: true, align: 'center' })
        .text('Left aligned', { align: 'left' })
        .text('Right aligned', { align: 'right' })
        .text('Double width', { width: 2, align: 'center' })
        .text('Double height', { height: 2, align: 'center' })
        .text('Size 2', { width: 2, height: 2, align: 'center' })
        .text('Size 3', { width: 3, height: 3, align: 'center' })
        .text('Apples').text('2').text('3.00').text('Pears').text('10').text('12.50')
        .text('Euro: 5 €', { align: 'center' })
        .text('Кириллица: Съешь', { align: 'center' });
    e.symbol('EAN13', EAN13).symbol('EAN8', EAN8).symbol('UPCA', UPCA).symbol('UPCE', UPCE)
        .symbol('CODE39', CODE39).symbol('ITF', ITF).symbol('CODABAR', CODABAR).symbol('CODE93', CODE93)
        .symbol('CODE128', CODE128).symbol('CODE128', 'Code{128} braces')
        .symbol('QR', QR).symbol('QR', 'receiptline picture', {
            prints: false,
            note: 'a picture (GS 8 L raster) of a QR code: receiptline diffuses the picture\'s grey into dots, and ' +
                'some dots of its black modules come out white: the QR code does not read',
        });
    const first = rl.transform(doc, { cpl: 48, encoding: 'multilingual', command: 'escpos', spacing: true });
    // The same library for a Japanese printer: Shift_JIS in Kanji mode.
    const japanese = rl.transform('日本語のレシート\n"合計" | ¥1,234\n=', {
        cpl: 48, encoding: 'shiftjis', command: 'escpos', spacing: true,
    });
    e.text('日本語のレシート', { align: 'center' }).text('合計', { bold: true }).text('¥1,234');
    return { bytes: Buffer.concat([Buffer.from(first, 'binary'), Buffer.from(japanese, 'binary')]), expect: e, cuts: 4,
             cutsNote: 'each document ends with the cut of its "=" line and the cut receiptline adds at its end ' +
                 '(GS V B 0 twice)',
             kanji: 'shift-jis' };
}

// ---- escpos-buffer ------------------------------------------------------------------------------

async function escposBuffer() {
    const { Printer, InMemory, Style, Align, Cut, Image } = need('escpos-buffer');
    const connection = new InMemory();
    const p = await Printer.CONNECT('TM-T20', connection);
    const e = new Expect();
    await p.setColumns(48);
    await p.writeln('escpos-buffer', 0, Align.Center);
    e.text('escpos-buffer', { align: 'center' });
    await p.writeln('Bold line', Style.Bold, Align.Left);
    e.text('Bold line', { bold: true, align: 'left' });
    await p.writeln('Underlined line', Style.Underline);
    e.text('Underlined line', { underline: 1 });
    await p.writeln('Right aligned', 0, Align.Right);
    e.text('Right aligned', { align: 'right' });
    await p.writeln('Condensed line', Style.Condensed);
    e.text('Condensed line', {
        condensed: true,
        note: 'Style.Condensed sends ESC SI and DC2, the condensed mode of another printer language: no ESC/POS ' +
            'command; Pellory draws it as that mode asks, each character two thirds as wide',
    });
    await p.writeln('Double width', Style.DoubleWidth);
    e.text('Double width', { width: 2 });
    await p.writeln('Double height', Style.DoubleHeight);
    e.text('Double height', { height: 2 });
    await p.writeln('Both', Style.DoubleHeight | Style.DoubleWidth | Style.Bold);
    e.text('Both', { width: 2, height: 2, bold: true });
    await p.withStyle({ width: 3, height: 4, align: Align.Center }, async () => {
        await p.writeln('Size 3x4');
    });
    e.text('Size 3x4', { width: 3, height: 4, align: 'center' });
    await p.writeln('Normal again');
    e.text('Normal again');
    await p.setCodepage('cp858');
    await p.writeln('Euro: 5 €');
    e.text('Euro: 5 €');
    await p.setCodepage('cp866');
    await p.writeln('Кириллица: Съешь');
    e.text('Кириллица: Съешь');
    await p.setCodepage('cp850');
    await p.writeln('Çà et là');
    e.text('Çà et là');
    await p.qrcode(QR, 4);
    e.symbol('QR', QR);
    const rgba = pngToRgba(qrPng('escpos-buffer picture'));
    await p.draw(new Image(rgba));
    e.symbol('QR', 'escpos-buffer picture', {
        prints: false,
        note: 'draw() sends each 24-dot band of ESC * with ESC J 0, which prints it and feeds no paper: the bands ' +
            'print over one another',
    });
    await p.feed(2);
    await p.cutter(Cut.Partial);
    return { bytes: Buffer.from(connection.buffer()), expect: e, cuts: 0,
             cutsNote: 'Cut.Partial sends ESC m, which on this printer starts its print density command (ESC m n), ' +
                 'and the stream ends before n: no cut' };
}

// ---- @node-escpos/core --------------------------------------------------------------------------

async function nodeEscpos() {
    const escpos = need('@node-escpos/core');
    const { Printer, Image } = escpos;
    // A sink for the bytes: the library's adapters are devices; this one keeps what is written.
    const chunks = [];
    const adapter = {
        open(cb) { if (cb) cb(null); return this; },
        write(data, cb) { chunks.push(Buffer.from(data)); if (cb) cb(null); return this; },
        close(cb) { if (cb) cb(null); return this; },
        read() {},
        on() { return this; },
        removeAllListeners() { return this; },
    };
    const p = new Printer(adapter, { encoding: 'CP437', width: 48 });
    const e = new Expect();
    p.hardware('init');
    p.align('ct').text('@node-escpos/core');
    e.text('@node-escpos/core', { align: 'center' });
    p.align('lt').style('b').text('Bold line');
    e.text('Bold line', { bold: true, align: 'left' });
    p.style('u').text('Underlined line');
    e.text('Underlined line', { underline: 1 });
    p.style('u2').text('Thick underline');
    e.text('Thick underline', { underline: 2 });
    p.style('normal');
    p.setReverseColors(true).text('Inverted line').setReverseColors(false);
    e.text('Inverted line', { invert: true });
    p.align('rt').text('Right aligned').align('lt');
    e.text('Right aligned', { align: 'right' });
    p.font('b').text('Font B line').font('a');
    e.text('Font B line', { font: 'B' });
    p.size(2, 2).text('Size 2x2');
    e.text('Size 2x2', { width: 2, height: 2 });
    p.size(1, 1).text('Normal again');
    e.text('Normal again');
    p.table(['One', 'Two', 'Three']);
    e.text('One').text('Two').text('Three');
    p.tableCustom([{ text: 'Item', align: 'LEFT', width: 0.5 }, { text: '9.99', align: 'RIGHT', width: 0.5 }], {
        size: [1, 1], encoding: 'cp437',
    });
    e.text('Item').text('9.99');
    p.drawLine();
    e.text('-'.repeat(48));
    p.setCharacterCodeTable(19).text('Euro: 5 €', 'CP858');
    e.text('Euro: 5 €');
    p.setCharacterCodeTable(13).text('Türkçe: ğüşıöç İ', 'CP857');
    e.text('Türkçe: ğüşıöç İ');
    p.setCharacterCodeTable(17).text('Кириллица: Съешь', 'CP866');
    e.text('Кириллица: Съешь');
    p.setCharacterCodeTable(0);
    p.align('ct');
    const bar = { width: 2, height: 60, position: 'blw', font: 'a' };
    p.barcode(EAN13.slice(0, 12), 'EAN13', bar);
    e.symbol('EAN13', EAN13);
    p.barcode(EAN8.slice(0, 7), 'EAN8', bar);
    e.symbol('EAN8', EAN8);
    p.barcode(UPCA.slice(0, 11), 'UPC_A', bar);
    e.symbol('UPCA', UPCA);
    p.barcode(UPCE, 'UPC_E', bar);
    e.symbol('UPCE', UPCE);
    p.barcode(CODE39, 'CODE39', bar);
    e.symbol('CODE39', CODE39);
    p.barcode(ITF, 'ITF', bar);
    e.symbol('ITF', ITF);
    p.barcode('40156', 'NW7', bar);
    e.symbol('CODABAR', '40156', {
        prints: false,
        note: 'barcode(..., "NW7") takes digits only, so CODABAR goes without the start and stop characters ' +
            'A to D it needs: the printer prints no symbol',
    });
    // barcode() writes the length byte of CODE93 and CODE128 as hexadecimal digits, and Buffer.from drops
    // an odd count of them: data of fewer than 16 characters goes without its length byte, and the
    // printer then takes the first character for it. The data here is longer. CODE128 takes its code
    // set from the caller.
    // width 1 sends GS w 2 (width 2 sends GS w 3, too wide for these on the paper).
    p.barcode(CODE93_LONG, 'CODE93', { ...bar, width: 1 });
    e.symbol('CODE93', CODE93_LONG);
    p.barcode(`{B${CODE128_LONG}`, 'CODE128', { ...bar, width: 1 });
    e.symbol('CODE128', CODE128_LONG);
    p.qrcode(QR, 4, 'm', 4);
    e.symbol('QR', QR);
    await p.qrimage('node-escpos qrimage', { type: 'png', mode: 'normal', size: 3, margin: 2 });
    e.symbol('QR', 'node-escpos qrimage', { note: 'qrimage(): the QR code drawn by the library as a raster image' });
    const picture = await Image.load(qrPng('node-escpos picture'), 'image/png');
    await p.image(picture, 'd24');
    e.symbol('QR', 'node-escpos picture', { note: 'a picture (ESC * 24-dot rows) of a QR code' });
    p.cut(true, 4);
    await p.flush();
    return { bytes: Buffer.concat(chunks), expect: e, cuts: 1 };
}

// ---- the files ----------------------------------------------------------------------------------

async function main() {
    const makers = [
        { library: 'node-thermal-printer', file: 'node-thermal-printer.bin', make: nodeThermalPrinter,
          holds: 'EPSON type, 48 columns: text styles and sizes, left-right, table and custom table, a rule, ' +
                 'PC858, PC857 and PC866 lines, every barcode of printBarcode, code128(), QR, PDF417, MaxiCode, ' +
                 'a picture, a cut' },
        { library: '@point-of-sale/receipt-printer-encoder', file: 'receipt-printer-encoder.bin',
          make: async () => encoderReceipt(need('@point-of-sale/receipt-printer-encoder').default ??
                                           need('@point-of-sale/receipt-printer-encoder'),
                                           'receipt-printer-encoder', { printerModel: 'epson-tm-t88vi' },
                                           { align: 'center' },
                                           'the library sets GS P 180 180 and ESC 3 24 for the 180-dot TM-T88VI: ' +
                                           'on this 203-dot printer its 24-dot bands stand 27 dots apart, with ' +
                                           'blank rows between them, and the QR code does not read'),
          holds: 'ESC/POS, epson-tm-t88vi, 48 columns: text styles and sizes, a table, a rule, automatic code ' +
                 'pages (euro, Turkish, Cyrillic, half-width katakana), every barcode symbology, QR, PDF417, ' +
                 'a picture, a partial cut' },
        { library: 'esc-pos-encoder', file: 'esc-pos-encoder.bin',
          make: async () => {
              const m = need('esc-pos-encoder');
              return encoderReceipt(m.default ?? m, 'esc-pos-encoder', {}, {
                  align: 'left',
                  note: 'the library sends the spaces that center the first line before ESC @, which clears them: ' +
                      'the line prints at the left',
              }, 'the library sends ESC 3 36 between 24-dot bands: 12 blank rows part them, and the QR code ' +
                 'does not read');
          },
          holds: 'the same receipt through the older name (a wrapper of receipt-printer-encoder 3)' },
        { library: 'receiptline', file: 'receiptline.bin', make: async () => receiptline(),
          holds: 'a ReceiptLine document for "escpos", multilingual, then a Japanese one in Shift_JIS: styles, ' +
                 'sizes, columns, a rule, every barcode it offers, QR, a picture, cuts' },
        { library: 'escpos-buffer', file: 'escpos-buffer.bin', make: escposBuffer,
          holds: 'TM-T20 profile, 48 columns: styles, sizes, withStyle, code pages cp858, cp866, cp850, ' +
                 'QR, a picture, a partial cut (the library offers no barcodes)' },
        { library: '@node-escpos/core', file: 'node-escpos.bin', make: nodeEscpos,
          holds: 'styles, sizes, table and custom table, a rule, PC858, PC857 and PC866 lines, every barcode of ' +
                 'barcode(), QR, qrimage(), a picture, a partial cut' },
    ];
    const manifest = { paper: 576, files: [] };
    for (const m of makers) {
        const made = await m.make();
        fs.writeFileSync(path.join(out, m.file), made.bytes);
        manifest.files.push({
            file: m.file,
            library: m.library,
            version: versionOf(m.library),
            holds: m.holds,
            kanji: made.kanji ?? 'gb18030',
            refused: made.refused ?? [],
            cuts: made.cuts,
            ...(made.cutsNote ? { cutsNote: made.cutsNote } : {}),
            lines: made.expect.lines,
            symbols: made.expect.symbols,
        });
        console.log(`${m.file}: ${made.bytes.length} bytes, ${made.expect.lines.length} lines, ` +
                    `${made.expect.symbols.length} symbols`);
    }
    fs.writeFileSync(path.join(out, 'manifest.json'), JSON.stringify(manifest, null, 2) + '\n');
}

main().catch((err) => {
    console.error(err);
    process.exit(1);
});
