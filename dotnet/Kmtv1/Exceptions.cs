using System;

namespace Kmtv1
{
    /// <summary>
    /// A library call reported a non-zero status. <see cref="Status"/> is the value the
    /// library reported, <see cref="Function"/> the C function that reported it (for
    /// example "DIO_ReadPort"). The subclasses name the device statuses, so each can be
    /// caught on its own; discovery reports the driver's statuses, which only have this class
    /// (except 3, <see cref="UnknownTypeException"/>).
    /// </summary>
    [Serializable]
    public class KmtException : Exception
    {
        /// <summary>Creates the exception for a status of a function, with a description.</summary>
        public KmtException(string function, int status, string detail)
            : base(function + " failed with status " + status + ": " + detail)
        {
            Function = function;
            Status = status;
        }

        /// <summary>The C function that reported the status.</summary>
        public string Function { get; private set; }

        /// <summary>The status the library reported.</summary>
        public int Status { get; private set; }

        /// <summary>
        /// The exception for a non-zero status of <paramref name="function"/>, with
        /// <paramref name="detail"/> as its description (null: the status's own).
        /// </summary>
        public static KmtException ForStatus(string function, int status, string detail = null)
        {
            if (function == "KMT_CreateListDevs")
            {
                if (status == NativeMethods.StatusUnknownType)
                {
                    return new UnknownTypeException(function, detail ?? UnknownTypeException.Text);
                }
                return new KmtException(function, status, detail ?? "driver status " + status);
            }
            switch (status)
            {
                case NativeMethods.StatusNotOpen:
                    return new NotOpenException(function, detail ?? NotOpenException.Text);
                case NativeMethods.StatusBadResponse:
                    return new NoResponseException(function, detail ?? NoResponseException.Text);
                case NativeMethods.StatusUnknownType:
                    return new UnknownTypeException(function, detail ?? UnknownTypeException.Text);
                case NativeMethods.StatusOutOfRange:
                    return new OutOfRangeException(function, detail ?? OutOfRangeException.Text);
                default:
                    return new KmtException(function, status, detail ?? "driver status " + status);
            }
        }
    }

    /// <summary>Status 1: no device open (or it could not be opened), or the request write failed.</summary>
    [Serializable]
    public class NotOpenException : KmtException
    {
        internal const string Text = "no device open, or the request write failed";

        /// <summary>Creates the exception for a function, with a description.</summary>
        public NotOpenException(string function, string detail)
            : base(function, NativeMethods.StatusNotOpen, detail)
        {
        }
    }

    /// <summary>Status 2: no response, a short or corrupt response, or the controller refused the request.</summary>
    [Serializable]
    public class NoResponseException : KmtException
    {
        internal const string Text = "no response, a bad response, or the controller refused the request";

        /// <summary>Creates the exception for a function, with a description.</summary>
        public NoResponseException(string function, string detail)
            : base(function, NativeMethods.StatusBadResponse, detail)
        {
        }
    }

    /// <summary>Status 3: the device type name given to discovery is not known.</summary>
    [Serializable]
    public class UnknownTypeException : KmtException
    {
        internal const string Text = "unknown device type name";

        /// <summary>Creates the exception for a function, with a description.</summary>
        public UnknownTypeException(string function, string detail)
            : base(function, NativeMethods.StatusUnknownType, detail)
        {
        }
    }

    /// <summary>Status 4: the library refused an argument; nothing was sent.</summary>
    [Serializable]
    public class OutOfRangeException : KmtException
    {
        internal const string Text = "argument out of range; nothing was sent";

        /// <summary>Creates the exception for a function, with a description.</summary>
        public OutOfRangeException(string function, string detail)
            : base(function, NativeMethods.StatusOutOfRange, detail)
        {
        }
    }
}
