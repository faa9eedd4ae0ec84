// The widgets live here.
