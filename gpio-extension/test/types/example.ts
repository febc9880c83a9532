// A small program as a panel application writes it, type-checked against
// index.d.ts by `./run.sh check` (tsc --noEmit). It is never run: the lines
// marked @ts-expect-error must stay errors, or the typings have gone loose.
import * as gpio from 'gpio-extension';

const libgpiod: string = gpio.version();

const chip = new gpio.Chip('gpiochip0');
const sameChip: gpio.Chip = new gpio.Chip(0);
const lamp: gpio.Line = chip.getLine(17);
lamp.requestOutput(1, 'panel-lamp');
lamp.setValue(false);
lamp.requestOutput(true, { consumer: 'panel', activeLow: true, bias: 'pull-up', drive: 'open-drain' });

const button: gpio.Line | null = chip.findLine('start-button');
if (button !== null) {
    button.requestInput({ consumer: 'panel', bias: 'pull-down', activeLow: true });
    const pressed: 0 | 1 = button.getValue();
    const info: gpio.LineInfo = button.info();
    const direction: 'input' | 'output' = info.direction;
    const name: string | null = info.name;
    console.log(pressed, direction, name, info.offset, info.used, info.bias, info.drive, info.consumer);
    button.release();
}

const level: 0 | 1 = gpio.getInstantLineValue('/dev/gpiochip0', 4, { bias: 'pull-down' });
gpio.setInstantLineValue(0, 17, 1, 'panel');
const again = new gpio.Line(sameChip, 3);
console.log(libgpiod, level, again.offset, again.chip.label, again.requested, chip.name, chip.numLines, chip.closed);

try {
    chip.getLine(999);
} catch (error) {
    const failure = error as gpio.GpioError;
    console.log(failure.code, failure.errno, failure.message);
}
chip.close();

// What the typings must refuse.
// @ts-expect-error a value is 0, 1 or a boolean
lamp.setValue(2);
// @ts-expect-error no such bias
lamp.requestInput({ bias: 'pull-sideways' });
// @ts-expect-error the chip's name cannot be changed
chip.name = 'gpiochip9';
// @ts-expect-error a read gives 0 or 1, not a boolean
const asBoolean: boolean = lamp.getValue();
console.log(asBoolean);
