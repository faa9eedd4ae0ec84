'use client';
import { useEffect, useState } from 'react';

// "hydrated" shows only once the page's scripts from /_next/ have run in the browser.
export default function Page() {
  const [state, setState] = useState('served');
  useEffect(() => setState('hydrated'), []);
  return <p id="message">{state}</p>;
}
