// Opens the first controller found, reads its four analog inputs and digital port 0,
// and closes it: the job of read_inputs.c, through the Kmtv1 assembly.
//
// Build with Mono's C# compiler (or add Kmtv1.dll as a reference to any .NET project):
//   mcs -r:Kmtv1.dll -out:ReadInputs.exe ReadInputs.cs
// Run without hardware, on the simulated controller (Kmtv1.dll and its .config beside it):
//   KMT_DRIVER=sim KMTV1_LIBRARY=/path/to/libkmtv1.so.1 mono ReadInputs.exe
using System;
using System.Globalization;
using Kmtv1;

static class ReadInputs
{
    static int Main()
    {
        try
        {
            // using closes the controller however the block is left.
            using (Controller controller = Controller.Open())
            {
                double[] volts = controller.AnalogInputs();
                Console.WriteLine(string.Format(CultureInfo.InvariantCulture,
                    "{0}: inputs {1:F3} V {2:F3} V {3:F3} V {4:F3} V",
                    controller.Serial, volts[0], volts[1], volts[2], volts[3]));
                byte port = controller.ReadPort(0);
                Console.WriteLine("{0}: port 0 = 0x{1:X2}", controller.Serial, port);
            }
            return 0;
        }
        catch (KmtException error)
        {
            // The function and status that failed, for example
            // "AI_SimpleRead failed with status 2: no response, ...".
            Console.Error.WriteLine(error.Message);
            return 1;
        }
        catch (LibraryNotFoundException error)
        {
            Console.Error.WriteLine(error.Message);
            return 1;
        }
    }
}
