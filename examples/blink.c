// Blinks a LED on PB0 of an ATmega8 running from its factory 1 MHz internal
// oscillator: half a second on, half a second off. Wire the LED with a
// resistor from PB0 (pin 14) to ground.
#include <avr/io.h>
#include <util/delay.h>

int main(void)
{
    DDRB |= _BV(DDB0);
    for (;;) {
        PORTB ^= _BV(PORTB0);
        _delay_ms(500);
    }
}
