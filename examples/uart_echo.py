"""UART: opens the controller's serial port, sends a line and reads what came back
(the simulated controller loops its UART back).

    KMT_DRIVER=sim python3 uart_echo.py

uart_read returns the data and two trailing bytes: the bytes still waiting, and flags
(bit 0: bytes were lost to a full buffer).
"""

import kmtv1

with kmtv1.Controller() as controller:
    controller.uart_init(9600, 0, 0)
    controller.uart_set_timeout(10)  # ms to wait for bytes asked for but not there
    controller.uart_write(b"hello, UART")
    answer = controller.uart_read(64)
    print("received %r, %d still waiting, flags 0x%02X"
          % (answer.data.decode(), answer.trailer1, answer.trailer2))
    controller.uart_close()
