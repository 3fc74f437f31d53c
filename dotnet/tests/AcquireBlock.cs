// The C# side of the block acquisition comparison: the same calls as acquire_reference.c
// (list, open the first controller, one AI_Read), made through Controller, printed in the
// same format. Run in a fresh process, as the C program is, so that both meet the
// simulated controller in the same state.
//   AcquireBlock.exe ENABLE1 ENABLE2 ENABLE3 ENABLE4 SAMPLE_COUNT SAMPLE_DELAY
using System;
using System.Collections.Generic;
using System.Globalization;
using System.Text;
using Kmtv1;

static class AcquireBlock
{
    static int Main(string[] args)
    {
        var channels = new List<int>();
        for (int i = 0; i < 4; i++)
        {
            if (int.Parse(args[i], CultureInfo.InvariantCulture) != 0) channels.Add(i + 1);
        }
        int count = int.Parse(args[4], CultureInfo.InvariantCulture);
        int delay = int.Parse(args[5], CultureInfo.InvariantCulture);
        Acquisition block;
        using (Controller controller = Controller.Open())
        {
            block = controller.AiRead(channels.ToArray(), count, delay);
        }
        var text = new StringBuilder();
        text.AppendFormat(CultureInfo.InvariantCulture, "duration {0:R}\ntrailer {1} {2}\nchannels {3}\n", block.Duration, block.TrailerByte, block.TrailerValue, block.Channels.Count);
        for (int i = 0; i < block.Time.Length; i++)
        {
            for (int c = 0; c < block.Channels.Count; c++) text.Append(block.Counts[c, i]).Append(' ');
            for (int c = 0; c < block.Channels.Count; c++) text.Append(' ').Append(block.Volts[c, i].ToString("R", CultureInfo.InvariantCulture));
            text.Append('\n');
        }
        Console.Write(text.ToString());
        return 0;
    }
}
